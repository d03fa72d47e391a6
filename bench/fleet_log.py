#!/usr/bin/env python3
"""Writes a run log of a fleet, as many machines appending to one shared file would leave it.

usage: fleet_log.py OUTPUT [--size 1G] [--machines 5000] [--seed 1]

Each run is the bundled example's road (18 lines: start, lists, procedures, items, flags, a box
and the end) or a shorter one that stops: at a message (message 8 with its Japanese text), at
the answer No, or without an end line (killed). Two machines in three are Windows machines
(UTF-8, CR LF, Windows paths; one in five of them still on an earlier release that writes code
page 932), one in three Linux (UTF-8, LF). Forty runs are under way
at once and their lines interleave; process ids repeat (never two at once on one machine). One line in 50,000 is cut off and the
next line written straight after it, and one in 100,000 is a line of some other program.
The runs go on, each machine running again and again, until the file reaches --size bytes.
Prints the machines, runs, lines and outcomes written.
"""

import argparse
import random
import sys

COPY_FAILED = "ファイルのコピーに失敗しました。\\n\\n転送元：\"{src}\"\\n転送先：\"{dst}\""


def size_value(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    return int(text[:-1]) * units[text[-1].upper()] if text[-1].upper() in units else int(text)


class Machine:
    def __init__(self, number, rng):
        self.windows = number % 3 != 0
        self.name = ("PC-%04d" if self.windows else "ws%04d") % number
        users = ["sato", "suzuki", "takahashi", "tanaka", "ito", "kim", "lee", "admin"]
        self.user = rng.choice(users + (["佐藤"] if self.windows else ["müller"]))
        if self.windows:
            self.dir = "C:\\Deploy"
            self.exe, self.sep, self.end = "updater.exe", "\\", "\r\n"
            self.encoding = "cp932" if number % 5 == 1 else "utf-8"
        else:
            self.dir = "/opt/deploy"
            self.exe, self.sep, self.end, self.encoding = "updater.run", "/", "\n", "utf-8"


def run_events(machine, outcome):
    """The events of one run of the example script, ending as `outcome` says."""
    d, s = machine.dir, machine.sep
    old, fresh, dest = d + s + "data" + s + "old.dat", d + s + "fresh.dat", d + s + "data" + s + "fresh.dat"
    text = "Replace the old data?\\n(%s)" % old
    events = [
        'start: program "%s%s%s" script "%s%supdater.ini" caption "Data update" user "%s"'
        % (d, s, machine.exe, d, s, machine.user),
        "list UPDATER PROC: CHECK, ASK, GO",
        'run CHECK: MODE="EXIST" FILE="%s"' % old,
        'CHECK: exists "%s"' % old,
        "CHECK: flag 1",
        'run ASK: MODE="MSGBOX" FLAG="CHECK, 1" TYPE="QUESTION" TEXT="%s" ISABORT="0, 1"' % text,
    ]
    if outcome == "cancelled":
        return events + ['box QUESTION "%s": answer No' % text, "ASK: the answer stops the run",
                         "end: stopped by the answer to ASK"]
    events += ['box QUESTION "%s": answer Yes' % text, "ASK: flag 1",
               'run GO: MODE="SWITCH" PROC="ASK" 1="REMOVE, INSTALL" 0="INSTALL"',
               "GO: flag of ASK is 1, branch 1: REMOVE, INSTALL", "list GO 1: REMOVE, INSTALL",
               'run REMOVE: MODE="DELETE" FILE="%s"' % old, 'REMOVE: deleted "%s"' % old,
               "REMOVE: flag 1", 'run INSTALL: MODE="COPY" FROM="%s" TO="%s"' % (fresh, dest)]
    if outcome == "failed":
        return events + ['INSTALL: not copied "%s" to "%s"' % (fresh, dest),
                         'error 8 "%s": shown' % COPY_FAILED.format(src=fresh, dst=dest),
                         "end: stopped by message 8"]
    if outcome == "unfinished":
        return events
    return events + ['INSTALL: copied "%s" to "%s"' % (fresh, dest), "INSTALL: flag 1",
                     "end: finished"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("output")
    parser.add_argument("--size", type=size_value, default=1 << 30)
    parser.add_argument("--machines", type=int, default=5000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    machines = [Machine(i, rng) for i in range(args.machines)]
    outcomes = ["finished"] * 85 + ["failed"] * 7 + ["cancelled"] * 6 + ["unfinished"] * 2
    counts = {name: 0 for name in set(outcomes)}
    runs = lines = cut = foreign = 0
    active = []  # [head, encoded events left, the next one last]
    heads = set()  # the heads of the runs under way
    events_of = {}  # (machine, outcome) -> its events, encoded
    written = 0
    second = 0
    chunk = []
    with open(args.output, "wb") as out:
        while written < args.size or active:
            while len(active) < 40 and written < args.size:
                machine = machines[rng.randrange(len(machines))]
                outcome = rng.choice(outcomes)
                counts[outcome] += 1
                runs += 1
                key = (machine.name, outcome)
                if key not in events_of:
                    events_of[key] = [(" " + e).encode(machine.encoding) + machine.end.encode()
                                      for e in run_events(machine, outcome)][::-1]
                # A process id that no other process of the machine has at the time.
                head = None
                while head is None or head in heads:
                    head = (" %s %d" % (machine.name, rng.randrange(100, 5000, 4))).encode()
                heads.add(head)
                active.append([head, list(events_of[key])])
            i = rng.randrange(len(active))
            head, events = active[i]
            second += 1
            stamp = b"2026-12-%02d %02d:%02d:%02d" % (8 + second // 86400 % 20,
                                                       second // 3600 % 24, second // 60 % 60,
                                                       second % 60)
            data = stamp + head + events.pop()
            lines += 1
            if lines % 100000 == 0:
                chunk.append(b"*** backup job 4711 finished at " + stamp + b" ***\n")
                foreign += 1
            if lines % 50000 == 0:
                data = data[:len(data) // 2]  # cut off: the next line follows it at once
                cut += 1
            chunk.append(data)
            written += len(data)
            if not events:
                heads.discard(head)
                active.pop(i)
            if len(chunk) >= 4096:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))
    print("fleet_log: %s: %d bytes, %d machines, %d runs (%s), %d lines, %d cut off, %d foreign"
          % (args.output, written, len(machines), runs,
             ", ".join("%s %d" % (k, counts[k]) for k in sorted(counts)), lines, cut, foreign))
    return 0


if __name__ == "__main__":
    sys.exit(main())
