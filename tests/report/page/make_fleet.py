#!/usr/bin/env python3
"""Writes the run logs of a fleet for updater-report's HTML page: computers that ran one of three
scripts over a week, with every outcome, three error messages, runs without an end line, times
from three time zones (and some without an offset, as earlier releases wrote them), and a list
of expected computers of which some never reported.

usage: make_fleet.py FOLDER [--computers 160] [--seed 7]

FOLDER gets logs/shared.log (the Windows machines' shared log, CR LF), logs/linux.log (LF) and
expected.txt (every computer, and some that never ran).
"""

import argparse
import os
import random
import sys

SCRIPTS = [
    ("C:\\Deploy\\data-update.ini", "Data update 2026.12"),
    ("C:\\Deploy\\office-fonts.ini", "Office fonts"),
    ("/opt/deploy/agent.ini", "Agent 4.2"),
]
MESSAGES = {
    8: "ファイルのコピーに失敗しました。\\n\\n転送元：\"{src}\"\\n転送先：\"{dst}\"",
    9: "ファイルの削除に失敗しました。\\n\\n\"{dst}\"",
    2: "The script's section \"UPDATER\" has no key \"PROC\".",
}
USERS = ["sato", "suzuki", "tanaka", "ito", "kim", "lee", "admin", "佐藤", "müller"]


def run_lines(rng, name, pid, start, script, caption, outcome, message, linux):
    """The lines of one run: (seconds, text)."""
    program = "/opt/deploy/updater.run" if linux else "C:\\Deploy\\updater.exe"
    user = rng.choice(USERS)
    src, dst = ("/opt/deploy/fresh.dat", "/opt/deploy/data/fresh.dat") if linux else (
        "C:\\Deploy\\fresh.dat", "C:\\Deploy\\data\\fresh.dat")
    events = ['start: program "%s" script "%s" caption "%s" user "%s"'
              % (program, script, caption, user),
              "list UPDATER PROC: CHECK, ASK, GO",
              'run CHECK: MODE="EXIST" FILE="%s"' % dst]
    if outcome == "cancelled":
        events += ['box QUESTION "Replace the old data?": answer No',
                   "ASK: the answer stops the run", "end: stopped by the answer to ASK"]
    elif outcome == "failed":
        events += ['run INSTALL: MODE="COPY" FROM="%s" TO="%s"' % (src, dst),
                   'error %d "%s": shown' % (message, MESSAGES[message].format(src=src, dst=dst)),
                   "end: stopped by message %d" % message]
    elif outcome == "stopped":
        events += ['run LAUNCH: MODE="LAUNCH" FILE="%s"' % program, "end: stopped"]
    elif outcome == "unfinished":
        events += ['run INSTALL: MODE="COPY" FROM="%s" TO="%s"' % (src, dst)]
    else:
        events += ['run INSTALL: MODE="COPY" FROM="%s" TO="%s"' % (src, dst),
                   'INSTALL: copied "%s" to "%s"' % (src, dst), "end: finished"]
    # The office fonts' script sets exit codes (EXITCODE): its end lines name them.
    if script.endswith("office-fonts.ini") and events[-1].startswith("end:"):
        code = {"finished": 0, "cancelled": 1602}.get(outcome, 1603)
        events[-1] += "; exit code %d" % code
    return [(start + i, "%s %d %s" % (name, pid, event)) for i, event in enumerate(events)]


def offset_of(number):
    """The UTC offset of a machine in minutes: Tokyo, Paris or New York; every seventh one on an
    earlier release that writes no offset."""
    if number % 7 == 0:
        return None
    return [540, 60, -300][number % 3]


def stamp(seconds, offset):
    """The time of a line: UTC `seconds` into the week as the machine's local time, with its
    offset in minutes ("2026-12-01T09:00:00+09:00"), or, with None, as earlier releases wrote it
    (the local time of a machine on UTC, no offset)."""
    local = seconds + (offset or 0) * 60 + 86400
    day, rest = divmod(local, 86400)
    clock = "2026-11-30" if day == 0 else "2026-12-%02d" % day
    clock += "%s%02d:%02d:%02d" % (" " if offset is None else "T", rest // 3600, rest // 60 % 60,
                                   rest % 60)
    if offset is None:
        return clock
    sign = "+" if offset >= 0 else "-"
    return clock + "%s%02d:%02d" % (sign, abs(offset) // 60, abs(offset) % 60)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--computers", type=int, default=160)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    os.makedirs(os.path.join(args.folder, "logs"), exist_ok=True)
    outcomes = ["finished"] * 70 + ["failed"] * 14 + ["cancelled"] * 6 + ["unfinished"] * 6 + [
        "stopped"] * 4
    windows, linux = [], []
    names = []
    runs = 0
    for number in range(1, args.computers + 1):
        on_linux = number % 4 == 0
        name = ("ws%03d" if on_linux else "PC-%d") % number
        names.append(name)
        script, caption = SCRIPTS[2] if on_linux else SCRIPTS[number % 2]
        for _ in range(rng.choice([1, 1, 1, 2, 3])):
            start = rng.randrange(0, 7 * 86400 - 60)
            outcome = rng.choice(outcomes)
            message = rng.choice([8, 8, 8, 8, 9, 9, 2])
            lines = run_lines(rng, name, rng.randrange(100, 9000, 4), start, script, caption,
                              outcome, message, on_linux)
            offset = offset_of(number)
            (linux if on_linux else windows).extend(
                (seconds, stamp(seconds, offset), text) for seconds, text in lines)
            runs += 1
    for lines, path, end in ((windows, "shared.log", "\r\n"), (linux, "linux.log", "\n")):
        lines.sort(key=lambda line: line[0])
        with open(os.path.join(args.folder, "logs", path), "wb") as out:
            for seconds, when, text in lines:
                line = ("%s %s" % (when, text)).encode("utf-8")
                # A line with an offset ends with its frame: " #" and its length in bytes.
                if "T" in when:
                    line += b" #%d" % len(line)
                out.write(line + end.encode())
    missing = ["PC-%d" % n for n in range(args.computers + 1, args.computers + 9)]
    with open(os.path.join(args.folder, "expected.txt"), "w", encoding="utf-8") as out:
        out.writelines(name + "\n" for name in names + missing)
    print("make_fleet: %d computers, %d runs, %d expected that never ran"
          % (len(names), runs, len(missing)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
