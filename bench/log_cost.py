#!/usr/bin/env python3
"""What the run log costs per line: a run of N procedures that do nothing but log, with and
without LOG.

usage: log_cost.py --exe PROGRAM [--wine] [--count 10000] [--runs 5] [--dir DIR]
                   [--baseline APPEND_BASELINE]

PROGRAM is updater.run (Linux) or updater.exe (with --wine, run under Wine from tests/wine's
prefix). The script holds one EXIST of N items, each the same existing file, so that the run does little
but look for that file and write one log line per item ("E: exists ..."); the script is read
once, whatever N. The script and the file are made in a fresh folder below DIR (default:
the system's temporary folder; under Wine: the prefix's drive C:), removed at the end. Each run is
timed from start to end of the process; runs without and with LOG take turns. Printed: the
median and the fastest of the runs, the log's size and lines, and what one line costs: the
median of the differences between a run with LOG and the run without it just before, divided
by the lines (and the same from the fastest runs, the least disturbed by other load). Each line is one locked append (the
lock, a look at the file's last byte, the write, the unlock). The whole run is noisy on a busy
machine, under Wine most of all; with --baseline, append_baseline (build/linux/bench/, or
append_baseline.exe of the Windows build) also times the log's file calls alone, in the same
folder: a line appended by reopening the file (as the log once did), on a handle held open, and
locked on a held handle (as the log does now); the lock's cost is the difference of the last two.
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
    lines = ["[UPDATER]", "NAME=Bench", "PROC=E"]
    if log:
        lines.append("LOG=<Src>%srun.log" % sep)
    lines += ["[E]", "MODE=EXIST", "FILE=" + ", ".join(["<Src>%sf" % sep] * count)]
    return "\r\n".join(lines) + "\r\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir")
    parser.add_argument("--baseline")
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
        sep = "\\" if args.wine else "/"
        if args.wine:
            command = [shutil.which("wine64") or "/usr/lib/wine/wine64",
                       "C:\\" + os.path.basename(folder) + "\\" + name]
        else:
            command = [os.path.join(folder, name)]
        open(os.path.join(folder, "f"), "w").close()
        # Runs without and with LOG take turns, so that the load of the moment weighs on both.
        times = {False: [], True: []}
        for _ in range(args.runs):
            for log in (False, True):
                with open(os.path.join(folder, "updater.ini"), "w") as f:
                    f.write(script(args.count, sep, log))
                if os.path.exists(os.path.join(folder, "run.log")):
                    os.remove(os.path.join(folder, "run.log"))
                start = time.monotonic()
                proc = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                times[log].append(time.monotonic() - start)
                if proc.returncode != 0 or (not args.wine and proc.stderr):
                    raise SystemExit("the run failed: %r" % proc.stderr[:200])
        with open(os.path.join(folder, "run.log"), "rb") as f:
            data = f.read()
        lines = data.count(b"\n")
        for log in (False, True):
            print("EXIST of %d items, %s: median %.3f s, fastest %.3f s of %d runs (%s)" % (
                args.count, "with LOG" if log else "without LOG", statistics.median(times[log]),
                min(times[log]), args.runs, ", ".join("%.3f" % t for t in times[log])))
        differences = [b - a for a, b in zip(times[False], times[True])]
        print("log %d lines, %d bytes; per line: %.1f us (median of the %d differences), "
              "%.1f us (fastest runs)" % (
                  lines, len(data), statistics.median(differences) * 1e6 / max(lines, 1),
                  args.runs, (min(times[True]) - min(times[False])) * 1e6 / max(lines, 1)))
        if args.baseline:
            shutil.copy2(args.baseline, folder)
            baseline = os.path.basename(args.baseline)
            line = command[:-1] + [command[-1].replace(name, baseline)]
            target = ("C:\\" + os.path.basename(folder) + "\\" if args.wine else folder + "/")
            proc = subprocess.run(line + [target + "baseline.log", str(args.count)], cwd=folder,
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            for text in proc.stdout.decode().replace("\r", "").splitlines():
                print("file calls alone, %d lines: %s" % (args.count, text))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
