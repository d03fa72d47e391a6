#!/usr/bin/env python3
"""Checks the event that updater.exe wrote, from its Wine trace.

usage: check_event.py TRACE EXPECTED.json

Wine's ReportEventW writes nothing to a log; it traces its call (a "fixme:advapi" line with the
type and the event ID) and each of the event's strings on its "eventlog" debug channel: with
"err" for an Error event, "warn" for a Warning, "trace" for the others. The program must have run
with WINEDEBUG holding +eventlog. EXPECTED.json holds {"type": "Error", "id": 1002, "strings":
[...], "program": "C:\\\\...\\\\updater.exe"}. Checked: exactly one event, its type and ID, its
strings (Wine cuts a long one after about 300 characters: then the part shown is compared), and
the text that the program's message table gives the event with those strings (event_text.exe, as
Event Viewer builds it) against the text of resources/events.def that Linux writes to syslog.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
import scenario as sc  # noqa: E402

TYPES = {"Error": (1, "err"), "Warning": (2, "warn"), "Information": (4, "trace")}
CALL = re.compile(r"fixme:advapi:ReportEventW \([0-9A-Fa-f]+,0x([0-9a-f]{4}),0x[0-9a-f]{4},"
                  r"0x([0-9a-f]{8}),[0-9A-Fa-f]+,0x([0-9a-f]{4}),")
STRING = re.compile(r'^[0-9a-f]+:(\w+):eventlog:ReportEventW L"((?:\\.|[^"\\])*)"(\.\.\.)?$')


def decode(text):
    """A string as Wine's debugstr_w shows it."""
    return re.sub(r"\\(u[0-9a-f]{4}|[0-9a-f]{4}|.)",
                  lambda m: chr(int(m.group(1)[-4:], 16)) if len(m.group(1)) >= 4 else
                  {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def main():
    with open(sys.argv[1], "rb") as f:
        trace = f.read().decode("utf-8", "replace").splitlines()
    with open(sys.argv[2], encoding="utf-8") as f:
        want = json.load(f)
    problems = []
    calls = [(i, CALL.search(line)) for i, line in enumerate(trace) if CALL.search(line)]
    print("check_event: %d ReportEventW call(s)" % len(calls))
    for line in trace:
        if "ReportEventW" in line or "RegisterEventSourceW" in line:
            print("  " + line)
    if len(calls) != 1:
        problems.append("%d events, expected one" % len(calls))
    else:
        at, call = calls[0]
        number, channel = TYPES[want["type"]]
        if int(call.group(1), 16) != number or int(call.group(2), 16) != want["id"]:
            problems.append("type 0x%s, ID %d; expected %s (%d), ID %d" % (
                call.group(1), int(call.group(2), 16), want["type"], number, want["id"]))
        count = int(call.group(3), 16)
        got = []
        for line in trace[at + 1:]:
            m = STRING.match(line)
            if m:
                if m.group(1) != channel:
                    problems.append("a string on the %s channel, expected %s" % (m.group(1),
                                                                              channel))
                got.append((decode(m.group(2)), bool(m.group(3))))
            if len(got) == count:
                break
        if count != len(want["strings"]) or len(got) != count:
            problems.append("%d strings (%d traced), expected %d" % (count, len(got),
                                                                     len(want["strings"])))
        for i, ((text, cut), expected) in enumerate(zip(got, want["strings"])):
            if text != expected and not (cut and expected.startswith(text)):
                problems.append("string %d is %r, expected %r" % (i + 1, text, expected))

    # The text that Event Viewer shows once the source is registered.
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".txt", delete=False) as f:
        f.write("\n".join(s.replace("\n", "\\n") for s in want["strings"]))
        strings_file = f.name
    try:
        wine = os.environ.get("WINE_BIN", "wine")
        probe = subprocess.run([wine, os.path.join(TOP, "build", "windows", "event_text.exe"),
                                want["program"], str(want["id"]), strings_file],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    finally:
        os.remove(strings_file)
    shown = bytes.fromhex(probe.stdout.decode().strip() or "").decode("utf-8", "replace")
    expected = sc.event_text(want["id"], want["strings"])
    print("check_event: the message table's text:\n  " +
          shown.replace("\r\n", "\n").replace("\n", "\n  "))
    if probe.returncode != 0 or shown.replace("\r\n", "\n") != expected:
        problems.append("the message table gives %r (status %d), events.def %r" % (
            shown, probe.returncode, expected))
    for problem in problems:
        print("check_event: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
