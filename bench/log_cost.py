#!/usr/bin/env python3
"""What the run log costs: a run of N EXIST procedures on existing files, with and without LOG.

usage: log_cost.py --exe PROGRAM [--wine] [--count 10000] [--runs 3] [--dir DIR]

PROGRAM is updater.run (Linux) or updater.exe (with --wine, run under Wine from tests/wine's
prefix). The script and its N files are made in a fresh folder below DIR (default: the system's
temporary folder; under Wine: the prefix's drive C:), removed at the end. Each run is timed
from start to end of the process; the medians are printed, and the log's size and line count.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def script(count, sep, log):
    lines = ["[UPDATER]", "NAME=Bench", "PROC=" + ", ".join("E%d" % i for i in range(count))]
    if log:
        lines.append("LOG=<Src>%srun.log" % sep)
    for i in range(count):
        lines += ["[E%d]" % i, "MODE=EXIST", "FILE=<Src>%sf%d" % (sep, i)]
    return "\r\n".join(lines) + "\r\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--dir")
    args = parser.parse_args()
    env = dict(os.environ)
    base = args.dir
    if args.wine:
        prefix = os.path.join(TOP, "build", "windows", "wineprefix")
        env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all", LANG="ja_JP.UTF-8",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        base = base or os.path.join(prefix, "drive_c")
    folder = tempfile.mkdtemp(prefix="kestario-logcost-", dir=base)
    try:
        name = "updater.exe" if args.wine else "updater.run"
        shutil.copy2(args.exe, os.path.join(folder, name))
        for i in range(args.count):
            open(os.path.join(folder, "f%d" % i), "w").close()
        sep = "\\" if args.wine else "/"
        if args.wine:
            command = [shutil.which("wine64") or "/usr/lib/wine/wine64",
                       "C:\\" + os.path.basename(folder) + "\\" + name]
        else:
            command = [os.path.join(folder, name)]
        for log in (False, True):
            with open(os.path.join(folder, "updater.ini"), "w") as f:
                f.write(script(args.count, sep, log))
            times = []
            for _ in range(args.runs):
                if os.path.exists(os.path.join(folder, "run.log")):
                    os.remove(os.path.join(folder, "run.log"))
                start = time.monotonic()
                proc = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                times.append(time.monotonic() - start)
                if proc.returncode != 0 or (not args.wine and proc.stderr):
                    raise SystemExit("the run failed: %r" % proc.stderr[:200])
            extra = ""
            if log:
                path = os.path.join(folder, "run.log")
                with open(path, "rb") as f:
                    data = f.read()
                extra = ", log %d lines, %d bytes" % (data.count(b"\n"), len(data))
            print("%d EXIST, %s: median %.3f s of %d runs (%s)%s" % (
                args.count, "with LOG" if log else "without LOG", statistics.median(times),
                args.runs, ", ".join("%.3f" % t for t in times), extra))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
