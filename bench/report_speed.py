#!/usr/bin/env python3
"""How fast updater-report reads a big run log, against reading the file and against grep -c.

usage: report_speed.py --report PROGRAM [--log FILE] [--size 1G] [--machines 5000] [--runs 5]
                       [--dir DIR] [--markdown PAGE]

Writes a shared log of a fleet with bench/fleet_log.py (in DIR, default the system's temporary
folder; removed at the end) unless --log names one, then times, one after another and each
--runs times after a warm-up round:

  cat LOG >/dev/null                 reading the file once
  LC_ALL=C grep -c 'end: ' LOG       counting the end lines
  updater-report LOG                 the report, text
  updater-report --json LOG          the report, JSON

(the output of the last three to a file)
first with the file in the page cache, then with the file's pages dropped from the cache before
every run (posix_fadvise DONTNEED on the file alone), so that each one reads it from the disk.
Prints the medians (wall time, and processor time: user + system) with min-max; with --markdown,
writes them as the section "## The fleet report: a 1 GB log" of that page (replacing it when it
is there). Not a test: the figures depend on the machine and its load.
"""

import argparse
import datetime
import os
import platform
import resource
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SECTION = "## The fleet report: a 1 GB log"
NOTE = ("`cat` only copies the bytes; `grep -c` and updater-report look at every line. The report "
        "checks the head of each line (date, time, computer, process id), finds a line written "
        "after a torn one by the colons of its time, and follows only the start, error and end "
        "lines to their runs; one pass over each block of 1 MB marks the line ends and those "
        "colons. What the report costs beyond reading is this look at each line, about as much "
        "as `grep` spends on its search.")


def drop_cache(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


def timed(command, output):
    """(wall seconds, processor seconds) of one run of `command`, its output to the file
    `output`. (Not to /dev/null: GNU grep stops at the first match when its output goes
    there.)"""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    with open(output, "wb") as out:
        subprocess.run(command, stdout=out, check=True, env=dict(os.environ, LC_ALL="C"))
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def measure(commands, log, runs, cold, output):
    results = {name: ([], []) for name, _ in commands}
    for round_number in range(runs + 1):
        for name, command in commands:
            if cold:
                drop_cache(log)
            wall, cpu = timed(command, os.devnull if name == "cat" else output)
            if round_number > 0:  # the first round warms up
                results[name][0].append(wall)
                results[name][1].append(cpu)
    return results


def summary(values):
    return "%.2f (%.2f–%.2f)" % (statistics.median(values), min(values), max(values))


def table(commands, results):
    cat = statistics.median(results["cat"][0])
    grep = statistics.median(results["grep -c"][0])
    lines = ["| Command | Wall time (s) | Processor time (s) | Wall / cat | Wall / grep -c |",
             "|---|---:|---:|---:|---:|"]
    for name, command in commands:
        wall, cpu = results[name]
        lines.append("| `%s` | %s | %s | %.2f | %.2f |" % (
            shlex.join(os.path.basename(c) if c.startswith("/") else c for c in command) +
            (" >/dev/null" if name == "cat" else ""),
            summary(wall), summary(cpu), statistics.median(wall) / cat,
            statistics.median(wall) / grep))
    return lines


def write_section(page, text):
    old = ""
    if os.path.exists(page):
        with open(page, encoding="utf-8") as f:
            old = f.read()
    if SECTION in old:
        start = old.index(SECTION)
        end = old.find("\n## ", start + len(SECTION))
        new = old[:start] + text + (old[end + 1:] if end != -1 else "")
    else:
        new = old.rstrip("\n") + "\n\n" + text
    with open(page, "w", encoding="utf-8") as f:
        f.write(new.rstrip("\n") + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--report", required=True, help="updater-report (Linux build)")
    parser.add_argument("--log", help="an existing log to read (default: write one)")
    parser.add_argument("--size", default="1G")
    parser.add_argument("--machines", type=int, default=5000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir")
    parser.add_argument("--markdown")
    args = parser.parse_args()
    report = os.path.abspath(args.report)

    folder = None
    log = args.log
    generated = ""
    if not log:
        folder = tempfile.mkdtemp(prefix="kestario-report-bench-", dir=args.dir)
        log = os.path.join(folder, "fleet.log")
        generated = subprocess.run(
            [sys.executable, os.path.join(HERE, "fleet_log.py"), log, "--size", args.size,
             "--machines", str(args.machines)],
            check=True, stdout=subprocess.PIPE).stdout.decode().strip()
        print(generated)
    try:
        size = os.path.getsize(log)
        commands = [
            ("cat", ["cat", log]),
            ("grep -c", ["grep", "-c", "end: ", log]),
            ("report", [report, log]),
            ("report --json", [report, "--json", log]),
        ]
        totals = subprocess.run([report, os.path.basename(log)], stdout=subprocess.PIPE,
                                cwd=os.path.dirname(os.path.abspath(log)),
                                check=True).stdout.decode().split("\n\n")[0]
        output = os.path.join(folder or tempfile.gettempdir(), "report-bench-output.txt")
        warm = measure(commands, log, args.runs, False, output)
        cold = measure(commands, log, args.runs, True, output)
        os.remove(output)
    finally:
        if folder:
            shutil.rmtree(folder, ignore_errors=True)

    load = os.getloadavg()
    text = [
        SECTION,
        "",
        "Generated by `bench/report_speed.py` on %s." % datetime.datetime.now().astimezone()
        .strftime("%Y-%m-%d %H:%M %Z"),
        "",
        "- Machine: %d cores (`nproc`), %s; load average at the end %.2f / %.2f / %.2f (other "
        "work shares the machine: compare the processor times too)."
        % (os.cpu_count(), platform.platform(), load[0], load[1], load[2]),
        "- Log: %s bytes (%.2f GB), written by `bench/fleet_log.py`%s." % (
            format(size, ","), size / 1e9,
            ": " + generated.split(": ", 2)[2].split(", ", 1)[1] if generated else ""),
        "- Program: `%s`. Each figure is the median of %d runs after a warm-up round, the "
        "commands taking turns; min–max in brackets. `grep` runs with `LC_ALL=C`."
        % (os.path.relpath(report), args.runs),
        "",
        "What updater-report printed first:",
        "",
        "```text",
        totals,
        "```",
        "",
        "The log in the page cache (reading is copying from memory):",
        "",
    ]
    text += table(commands, warm)
    text += ["", "The log read from the disk (its pages dropped from the cache before every run):",
             ""]
    text += table(commands, cold)
    text += ["", NOTE, ""]
    print("\n".join(text))
    if args.markdown:
        write_section(args.markdown, "\n".join(text))
    return 0


if __name__ == "__main__":
    sys.exit(main())
