#!/usr/bin/env python3
"""Checks a run log written by updater.exe against the events expected.

usage: check_log.py LOG EXPECTED

LOG is the log file; EXPECTED holds the expected events, one a line, in UTF-8. The log must be
valid UTF-8 throughout, without a byte order mark, whatever the code pages of the machines that
wrote it; every line must end with CR LF, begin with the local date and time with its offset from
UTC, the computer name and the process id, and end with its frame (" #" and the number of bytes
before it); what lies between must be the expected event. Prints the log and the differences.
"""

import re
import sys

HEAD = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d \S+ \d+ ")
FRAME = re.compile(r" #(0|[1-9]\d*)$")


def main():
    with open(sys.argv[1], "rb") as f:
        log = f.read()
    with open(sys.argv[2], encoding="utf-8") as f:
        expected = [line for line in f.read().split("\n") if line]
    problems = []
    try:
        text = log.decode("utf-8")
    except UnicodeDecodeError as error:
        problems.append("the log is not UTF-8: %s" % error)
        text = log.decode("utf-8", "replace")
    sys.stdout.write(text.replace("\r\n", "\n"))
    if text.startswith("\ufeff"):
        problems.append("the log begins with a byte order mark")
    if not text.endswith("\r\n"):
        problems.append("the log does not end with CR LF")
    lines = text[:-2].split("\r\n") if text.endswith("\r\n") else text.split("\r\n")
    events = []
    for line in lines:
        if "\n" in line or "\r" in line:
            problems.append("a line end other than CR LF in %r" % line)
        m = HEAD.match(line)
        frame = FRAME.search(line)
        if not m:
            problems.append("a line without its head: %r" % line)
            continue
        if not frame or int(frame.group(1)) != len(line[:frame.start()].encode("utf-8")):
            problems.append("a line without its frame, or with a wrong one: %r" % line)
            continue
        events.append(line[m.end():frame.start()])
    if events != expected:
        for i in range(max(len(events), len(expected))):
            got = events[i] if i < len(events) else "(none)"
            want = expected[i] if i < len(expected) else "(none)"
            if got != want:
                problems.append("event %d:\n    written  %s\n    expected %s" % (i, got, want))
    for problem in problems:
        print("check_log: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
