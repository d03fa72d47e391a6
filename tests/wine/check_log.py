#!/usr/bin/env python3
"""Checks a run log written by updater.exe against the events expected.

usage: check_log.py LOG EXPECTED

LOG is the log file; EXPECTED holds the expected events, one a line, in code page 932 (as the
scenarios' "file" statement writes it). Every line of the log must end with CR LF and begin with
the local date and time, the computer name and the process id; what follows must be the expected
event, byte for byte in code page 932. Prints the log (in UTF-8) and the differences.
"""

import re
import sys

HEAD = re.compile(rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \S+ \d+ ")


def main():
    with open(sys.argv[1], "rb") as f:
        log = f.read()
    with open(sys.argv[2], "rb") as f:
        expected = [line for line in f.read().split(b"\n") if line]
    sys.stdout.write(log.decode("cp932", "replace").replace("\r\n", "\n"))
    problems = []
    if not log.endswith(b"\r\n"):
        problems.append("the log does not end with CR LF")
    lines = log[:-2].split(b"\r\n") if log.endswith(b"\r\n") else log.split(b"\r\n")
    events = []
    for line in lines:
        if b"\n" in line or b"\r" in line:
            problems.append("a line end other than CR LF in %r" % line)
        m = HEAD.match(line)
        if not m:
            problems.append("a line without its head: %r" % line)
            continue
        events.append(line[m.end():])
    if events != expected:
        for i in range(max(len(events), len(expected))):
            got = events[i] if i < len(events) else b"(none)"
            want = expected[i] if i < len(expected) else b"(none)"
            if got != want:
                problems.append("event %d:\n    written  %s\n    expected %s" % (
                    i, got.decode("cp932", "replace"), want.decode("cp932", "replace")))
    for problem in problems:
        print("check_log: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
