#!/usr/bin/env python3
"""Many runs of updater.exe append to one run log at once, under Wine: no line is lost or torn.

usage: log_concurrent.py [--exe PATH] [--processes 10] [--trials 3]

PATH is updater.exe (default build/windows/updater.exe); hold_open.exe is taken from its folder.

Each trial puts the program and a script in a fresh folder on the prefix's drive C: and starts
the processes; each run writes 63 lines to the same log: its start and its list, then a LAUNCH
of hold_open.exe that waits until every run has come that far (the file "go"), so that all of
them append the rest at once: one EXIST of 55 files, its flag and the end. Afterwards every
process's 63 events must be in the log, in order, each on a whole line of its own with its head,
and nothing else. Wine's own append is not
atomic (FILE_APPEND_DATA handles write at an end they read first), so this is what the byte-range
lock of the log keeps whole. Prints one line per trial; exits with 1 when a line was lost or
torn. Uses the prefix of tests/wine (build/windows/wineprefix), which must exist.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ITEMS = 55
HEAD = re.compile(rb"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d \S+ (\d+) (.*) #(\d+)$")


def script():
    files = ", ".join("<Src>\\f%d" % i for i in range(ITEMS))
    lines = ["[UPDATER]", "NAME=Many", "PROC=W, E", "LOG=<Src>\\shared.log",
             "[W]", "MODE=LAUNCH", "FILE=<Src>\\hold_open.exe", "PARAM=- <Src>\\go", "ISWAIT=1",
             "[E]", "MODE=EXIST", "FILE=" + files]
    return "\r\n".join(lines) + "\r\n"


def expected(windir):
    files = ["%s\\f%d" % (windir, i) for i in range(ITEMS)]
    hold = "%s\\hold_open.exe" % windir
    return ([None, "list UPDATER PROC: W, E",
             'run W: MODE="LAUNCH" FILE="%s" PARAM="- %s\\go" ISWAIT=1' % (hold, windir),
             'W: started ""%s" - %s\\go", waited, exit code 0' % (hold, windir), "W: flag 1",
             'run E: MODE="EXIST" FILE="%s"' % ", ".join(files)] +
            ['E: exists "%s"' % f for f in files] + ["E: flag 1", "end: finished"])


def trial(exe, processes, env, wine):
    folder = tempfile.mkdtemp(prefix="kestario-logmany-",
                              dir=os.path.join(env["WINEPREFIX"], "drive_c"))
    try:
        windir = "C:\\" + os.path.basename(folder)
        shutil.copy2(exe, os.path.join(folder, "updater.exe"))
        shutil.copy2(os.path.join(os.path.dirname(exe), "hold_open.exe"), folder)
        with open(os.path.join(folder, "updater.ini"), "w", newline="") as f:
            f.write(script())
        for i in range(ITEMS):
            open(os.path.join(folder, "f%d" % i), "w").close()
        runs = [subprocess.Popen([wine, windir + "\\updater.exe"], cwd=folder, env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL) for _ in range(processes)]
        path = os.path.join(folder, "shared.log")
        # Every run waits in its LAUNCH; a moment more for the last hold_open.exe to start.
        for _ in range(600):
            if os.path.exists(path) and open(path, "rb").read().count(b" run W: ") >= processes:
                break
            time.sleep(0.1)
        time.sleep(1)
        open(os.path.join(folder, "go"), "w").close()
        for run in runs:
            run.wait(timeout=300)
        data = open(path, "rb").read() if os.path.exists(path) else b""
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    events = expected(windir)
    by_process = {}
    torn = 0
    for line in data.split(b"\r\n")[:-1] if data.endswith(b"\r\n") else data.split(b"\r\n"):
        m = HEAD.match(line)
        event = m.group(2).decode("cp932", "replace") if m else None
        if m is None or b"\n" in line or b"\r" in line or int(m.group(3)) != m.start(3) - 2 or (
                event not in events and not event.startswith("start: program ")):
            torn += 1
            continue
        by_process.setdefault(m.group(1), []).append(event)
    whole = 0
    for seen in by_process.values():
        # A process's lines count as whole when they are its events in order (lost ones skipped).
        at = 0
        for event in seen:
            for k in range(at, len(events)):
                if event == events[k] or events[k] is None and event.startswith("start: "):
                    whole += 1
                    at = k + 1
                    break
    wanted = processes * len(events)
    return wanted, whole, torn, len(by_process)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", default=os.path.join(TOP, "build", "windows", "updater.exe"))
    parser.add_argument("--processes", type=int, default=10)
    parser.add_argument("--trials", type=int, default=3)
    args = parser.parse_args()
    wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
    env = dict(os.environ)
    env.update(WINEPREFIX=os.environ.get("WINEPREFIX") or
               os.path.join(TOP, "build", "windows", "wineprefix"),
               WINEARCH="win64", WINEDEBUG="-all", LANG="ja_JP.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    if not os.path.isdir(os.path.join(env["WINEPREFIX"], "drive_c")):
        print("log_concurrent: no Wine prefix at %s" % env["WINEPREFIX"])
        return 2
    failed = False
    for number in range(1, args.trials + 1):
        wanted, whole, torn, runs = trial(os.path.abspath(args.exe), args.processes, env, wine)
        lost = wanted - whole
        failed = failed or lost != 0 or torn != 0
        print("trial %d: %d processes (%d seen in the log), %d lines expected, %d whole, "
              "%d lost, %d torn" % (number, args.processes, runs, wanted, whole, lost, torn))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
