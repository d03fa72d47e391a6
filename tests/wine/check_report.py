#!/usr/bin/env python3
"""Checks updater-report.exe's report of a run log that updater.exe wrote under Wine.

usage: check_report.py LOG REPORT_JSON REPORT_TEXT

LOG is the run log (CR LF) of one run; REPORT_JSON and REPORT_TEXT are what
`updater-report.exe --json LOG` and `updater-report.exe LOG` printed to a file (UTF-8). The
expected values come from the log itself, each line decoded by Python's own codecs (UTF-8 when
it is UTF-8, else code page 932, as logs of earlier releases hold it): the computer, the caption
and the user of the start line (none in logs of earlier releases), and how the run ended (with the text of the error line when an error box
stopped it). Prints the text report.
"""

import json
import re
import sys

# A line's head: the time (with its UTC offset and a frame at the line's end, or of the old form
# without either), the computer and the process id.
HEAD = re.compile(r"^(\d{4}-\d\d-\d\d[ T]\d\d:\d\d:\d\d(?:[+-]\d\d:\d\d)?) (\S+) (\d+) (.*)$")
FRAME = re.compile(r"^(.*) #(\d+)$")


def head(line):
    """(time in ISO 8601, computer, pid, event) of a line, its frame checked."""
    time, computer, pid, event = HEAD.match(line).groups()
    if "T" in time:
        m = FRAME.match(line)
        assert m and len(m.group(1).encode("utf-8")) == int(m.group(2)), line
        event = FRAME.match(event).group(1)
    return time.replace(" ", "T"), computer, pid, event


def line_breaks(text):
    """A box text's line breaks, which the log writes as \\n, as real ones (not inside quotes)."""
    out, quoted, i = "", False, 0
    while i < len(text):
        c = text[i]
        if c == '"':
            quoted = not quoted
        elif c == "\\" and not quoted and i + 1 < len(text) and text[i + 1] in "nr":
            i += 1
            c = "\n" if text[i] == "n" else "\r"
        out += c
        i += 1
    return out


def decoded(line):
    try:
        return line.decode("utf-8")
    except UnicodeDecodeError:
        return line.decode("cp932")


def main():
    log_path, json_path, text_path = sys.argv[1:4]
    with open(log_path, "rb") as f:
        lines = [decoded(line) for line in f.read().split(b"\r\n")[:-1]]
    with open(text_path, "rb") as f:
        text = f.read().decode("utf-8")
    sys.stdout.write(text)
    with open(json_path, "rb") as f:
        report = json.loads(f.read().decode("utf-8"))

    events = [head(line) for line in lines]
    start_time, computer, _, start = events[0]
    m = re.match(r'^start: program ".*" script ".*" caption "(.*?)"(?: user "(.*)")?$', start)
    end = events[-1][3]
    expected = {"computer": computer, "start": start_time, "caption": m.group(1),
                "user": m.group(2)}
    m = re.match(r"^end: stopped by message (\d+)$", end)
    if m:
        errors = [re.match(r'^error (\d+) "(.*)": shown$', e[3]) for e in events]
        texts = [e.group(2) for e in errors if e and e.group(1) == m.group(1)]
        expected.update(outcome="failed", message=int(m.group(1)),
                        message_text=line_breaks(texts[-1]))
        # The text form continues a box text's lines under its column: the row has its first.
        summary = 'stopped by message %s: "%s' % (m.group(1), line_breaks(texts[-1]).split("\n")[0])
    else:
        expected.update(outcome="finished")
        summary = "finished"

    problems = []
    if report["totals"]["computers"] != 1 or report["totals"]["skipped_lines"] != 0:
        problems.append("totals %r: one computer and no skipped line expected" % report["totals"])
    if report["logs"][0]["lines"] != len(lines):
        problems.append("%d lines counted, the log has %d" % (report["logs"][0]["lines"], len(lines)))
    got = report["computers"][0] if report["computers"] else {}
    for key, value in expected.items():
        if got.get(key) != value:
            problems.append("%s: %r, expected %r" % (key, got.get(key), value))
    row = [line for line in text.split("\n") if line.startswith(computer + " ")]
    if len(row) != 1 or summary not in row[0] or "\r" in text:
        problems.append("the text report has no line for %s ending in %r" % (computer, summary))
    for problem in problems:
        print("check_report: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
