#!/usr/bin/env python3
"""Writes a run log of a fleet, as many machines appending to one shared file would leave it.

usage: fleet_log.py OUTPUT [--size 1G] [--machines 5000] [--seed 1] [--old-form] [--short]
       fleet_log.py --per-machine FOLDER [--machines 100000] [--seed 1] [--old-form]

Each run is the bundled example's road (18 lines: start, lists, procedures, items, flags, a box
and the end) or a shorter one that stops: at a message (message 8 with its Japanese text), at
the answer No, or without an end line (killed). Two machines in three are Windows machines
(UTF-8, CR LF, Windows paths; one in five of them still on an earlier release that writes code
page 932 and the old line form), one in three Linux (UTF-8, LF). Lines have the run log's form
(docs/log.md): the time with its UTC offset (machines in eight time zones) and the line's
length at its end; with --old-form every line has the form of earlier releases (local time, no
length). Forty runs are under way at once and their lines interleave; process ids repeat (never
two at once on one machine). One line in 50,000 is cut off and the next line written straight
after it, and one in 100,000 is a line of some other program. The machines take turns (each
runs once before any runs again), and the runs go on until the file reaches --size bytes.

With --short, each run logs only its start, its list, and its last two lines (a run without
an end line its first three): about 2 runs per machine in a 1 GB log of 1,000,000 machines.
With --per-machine, each machine runs once and writes its own log, FOLDER/update-NAME.log, as
a fleet with one log per machine leaves them.
Prints the machines, runs, lines and outcomes written.
"""

import argparse
import datetime
import os
import random
import sys

COPY_FAILED = "ファイルのコピーに失敗しました。\\n\\n転送元：\"{src}\"\\n転送先：\"{dst}\""


def size_value(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    return int(text[:-1]) * units[text[-1].upper()] if text[-1].upper() in units else int(text)


# Offsets from UTC in minutes: Tokyo, Paris, New York, London, Kolkata, Los Angeles, Berlin in
# summer, Adelaide.
OFFSETS = [540, 60, -300, 0, 330, -480, 120, 570]
START = datetime.datetime(2026, 12, 8)


class Machine:
    __slots__ = ("windows", "number", "user", "dir", "exe", "sep", "end", "encoding", "offset")

    def __init__(self, number, rng):
        self.windows = number % 3 != 0
        self.number = number
        users = ["sato", "suzuki", "takahashi", "tanaka", "ito", "kim", "lee", "admin"]
        self.user = rng.choice(users + (["佐藤"] if self.windows else ["müller"]))
        self.offset = OFFSETS[number % len(OFFSETS)]
        if self.windows:
            self.dir = "C:\\Deploy"
            self.exe, self.sep, self.end = "updater.exe", "\\", "\r\n"
            self.encoding = "cp932" if number % 5 == 1 else "utf-8"
        else:
            self.dir = "/opt/deploy"
            self.exe, self.sep, self.end, self.encoding = "updater.run", "/", "\n", "utf-8"

    @property
    def name(self):
        return ("PC-%04d" if self.windows else "ws%04d") % self.number


def stamp(second, machine, old_form):
    """The time of a line written `second` seconds after 2026-12-08 00:00 UTC."""
    if old_form or machine.encoding == "cp932":
        local = second
        zone = b""
    else:
        local = second + machine.offset * 60
        sign = b"-" if machine.offset < 0 else b"+"
        zone = sign + b"%02d:%02d" % (abs(machine.offset) // 60, abs(machine.offset) % 60)
    # Twenty days from 2026-12-08 00:00, over and over.
    when = START + datetime.timedelta(seconds=local % (20 * 86400))
    separator = b" " if not zone else b"T"
    return b"%04d-%02d-%02d%s%02d:%02d:%02d%s" % (
        when.year, when.month, when.day, separator, when.hour, when.minute, when.second, zone)


def framed(line, machine, old_form):
    """`line` (without its line end) as the writer frames it, with its line end."""
    if old_form or machine.encoding == "cp932":
        return line + machine.end.encode()
    return line + b" #%d" % len(line) + machine.end.encode()


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
    parser.add_argument("output", nargs="?")
    parser.add_argument("--size", type=size_value, default=1 << 30)
    parser.add_argument("--machines", type=int, default=5000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--old-form", action="store_true")
    parser.add_argument("--per-machine", metavar="FOLDER")
    parser.add_argument("--short", action="store_true")
    args = parser.parse_args()
    if bool(args.output) == bool(args.per_machine):
        parser.error("give OUTPUT or --per-machine FOLDER")
    rng = random.Random(args.seed)
    machines = [Machine(i, rng) for i in range(args.machines)]
    outcomes = ["finished"] * 85 + ["failed"] * 7 + ["cancelled"] * 6 + ["unfinished"] * 2
    counts = {name: 0 for name in set(outcomes)}
    # The events of a run depend on the machine's system, encoding and user, not its name.
    events_of = {}

    def events(machine, outcome):
        key = (machine.windows, machine.encoding, machine.user, outcome)
        if key not in events_of:
            road = run_events(machine, outcome)
            if args.short:
                road = road[:3] if outcome == "unfinished" else road[:2] + road[-2:]
            events_of[key] = [e.encode(machine.encoding) for e in road]
        return events_of[key]

    if args.per_machine:
        os.makedirs(args.per_machine, exist_ok=True)
        written = lines = 0
        for second, machine in enumerate(machines):
            outcome = rng.choice(outcomes)
            counts[outcome] += 1
            head = (" %s %d " % (machine.name, rng.randrange(100, 5000, 4))).encode()
            data = b"".join(framed(stamp(second, machine, args.old_form) + head + e, machine,
                                   args.old_form) for e in events(machine, outcome))
            with open(os.path.join(args.per_machine, "update-%s.log" % machine.name), "wb") as f:
                f.write(data)
            written += len(data)
            lines += len(events(machine, outcome))
        print("fleet_log: %s: %d bytes in %d logs, %d machines, %d runs (%s), %d lines"
              % (args.per_machine, written, len(machines), len(machines), len(machines),
                 ", ".join("%s %d" % (k, counts[k]) for k in sorted(counts)), lines))
        return 0

    runs = lines = cut = foreign = 0
    active = []  # [machine, head, events left, the next one last]
    heads = set()  # the heads of the runs under way
    turn = list(range(len(machines)))
    at = len(turn)
    written = 0
    second = 0
    chunk = []
    with open(args.output, "wb") as out:
        while written < args.size or active:
            while len(active) < 40 and written < args.size:
                if at == len(turn):
                    rng.shuffle(turn)
                    at = 0
                machine = machines[turn[at]]
                at += 1
                outcome = rng.choice(outcomes)
                counts[outcome] += 1
                runs += 1
                # A process id that no other process of the machine has at the time.
                head = None
                while head is None or head in heads:
                    head = (" %s %d " % (machine.name, rng.randrange(100, 5000, 4))).encode()
                heads.add(head)
                active.append([machine, head, events(machine, outcome)[::-1]])
            i = rng.randrange(len(active))
            machine, head, left = active[i]
            second += 1
            when = stamp(second, machine, args.old_form)
            data = framed(when + head + left.pop(), machine, args.old_form)
            lines += 1
            if lines % 100000 == 0:
                chunk.append(b"*** backup job 4711 finished at " + when + b" ***\n")
                foreign += 1
            if lines % 50000 == 0:
                data = data[:len(data) // 2]  # cut off: the next line follows it at once
                cut += 1
            chunk.append(data)
            written += len(data)
            if not left:
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
