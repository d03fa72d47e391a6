#!/usr/bin/env python3
"""How fast updater-report reads a big run log, against reading the file and against grep -c.

usage: report_speed.py --report PROGRAM [--log FILE] [--size 1G] [--machines 5000] [--runs 5]
                       [--dir DIR] [--markdown PAGE]
       report_speed.py --report PROGRAM --fleet [--size 1G] [--runs 3] [--dir DIR]
                       [--keep] [--before PROGRAM] [--floor PROGRAM] [--output FILE] [--smoke]

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

With --fleet, the fleet at three scales instead, each figure with the memory the command took
(its maximum resident set size): a shared log of --size with 5,000 computers and one with
1,000,000 (short runs, `fleet_log.py --short`), each beside `wc -l` and `grep -c .` on the same
file; and 100,000 per-machine logs in one folder beside `cat` of the same files. The logs are
written into DIR (kept there with --keep, and reused when they are there); --before adds the
rows of an earlier build of updater-report (run once each); --floor adds, for the shared logs,
the rows of bench/report_floor (the least work any report must do): all of it on one thread, and
at four amounts (`heads`, `runs`, `computers`, `rows`) on as many threads as the machine has
cores; --output writes the table to FILE;
--smoke makes every size tiny (a check that the script runs, not a measurement).
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


def timed_with_memory(command, output):
    """(wall seconds, processor seconds, maximum resident set in MB) of one run of `command`,
    the memory as GNU time measures it (the rusage of a child counts the pages of the Python
    process it was forked from)."""
    memory = output + ".rss"
    start = time.perf_counter()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(output, "wb") as out:
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", memory] + command, stdout=out,
                                stderr=subprocess.DEVNULL, env=dict(os.environ, LC_ALL="C"))
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if status.returncode not in (0, 1):
        raise SystemExit("failed: %s" % shlex.join(command))
    with open(memory) as f:
        rss = int(f.read().split()[-1]) / 1024
    os.remove(memory)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, rss


def fleet_logs(folder, size, smoke):
    """Writes (or finds) the three fleets in `folder`: [(title, path, reference commands)]."""
    logs = [
        ("shared log, 5,000 computers", "fleet-5k.log",
         ["--size", size, "--machines", "1000" if smoke else "5000"]),
        ("shared log, 1,000,000 computers", "fleet-1m.log",
         ["--size", size, "--machines", "2000" if smoke else "1000000", "--short"]),
        ("100,000 per-machine logs", "pm100k",
         ["--per-machine", "--machines", "200" if smoke else "100000"]),
    ]
    fleets = []
    for title, name, options in logs:
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            if options[0] == "--per-machine":
                command = [sys.executable, os.path.join(HERE, "fleet_log.py"), "--per-machine",
                           path] + options[1:]
            else:
                command = [sys.executable, os.path.join(HERE, "fleet_log.py"), path] + options
            print(subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout.decode()
                  .strip(), flush=True)
        if os.path.isdir(path):
            reference = [("cat", ["sh", "-c", 'find "$1" -type f -exec cat {} +', "cat", path])]
        else:
            reference = [("wc -l", ["wc", "-l", path]), ("grep -c .", ["grep", "-c", ".", path])]
        fleets.append((title, path, reference))
    return fleets


def fleet_main(args, report):
    folder = args.dir or tempfile.mkdtemp(prefix="kestario-report-fleet-")
    os.makedirs(folder, exist_ok=True)
    size = "4M" if args.smoke else args.size
    output = os.path.join(folder, "report-bench-output.txt")
    lines = ["| Fleet | Command | Wall time (s) | Processor time (s) | Max RSS (MB) | "
             "Wall / reference |", "|---|---|---:|---:|---:|---:|"]
    try:
        for title, path, reference in fleet_logs(folder, size, args.smoke):
            commands = reference + [("updater-report", [report, path]),
                                    ("updater-report --json", [report, "--json", path])]
            if args.before:
                commands.append(("earlier updater-report", [os.path.abspath(args.before), path]))
            if args.floor and not os.path.isdir(path):
                floor = os.path.abspath(args.floor)
                cores = str(os.cpu_count())
                commands.append(("floor: rows, 1 thread", [floor, "rows", path]))
                commands += [("floor: %s, %s threads" % (work, cores),
                              [floor, "-j", cores, work, path])
                             for work in ("heads", "runs", "computers", "rows")]
            results = {name: [] for name, _ in commands}
            for round_number in range(args.runs + 1):
                for name, command in commands:
                    if name.startswith("earlier") and round_number != 1:
                        continue
                    figures = timed_with_memory(command, output)
                    if round_number > 0:  # the first round warms up
                        results[name].append(figures)
            base = statistics.median(w for w, _, _ in results[reference[0][0]])
            for name, command in commands:
                walls = [w for w, _, _ in results[name]]
                cpus = [c for _, c, _ in results[name]]
                rss = max(m for _, _, m in results[name])
                lines.append("| %s | `%s` | %s | %s | %.0f | %.2f |" % (
                    title, name, summary(walls), summary(cpus), rss,
                    statistics.median(walls) / base))
                print(lines[-1], flush=True)
    finally:
        if os.path.exists(output):
            os.remove(output)
        if not args.keep and not args.dir:
            shutil.rmtree(folder, ignore_errors=True)
    load = os.getloadavg()
    text = ["Fleet report at three scales, `bench/report_speed.py --fleet` on %s; %d cores, load "
            "average at the end %.2f / %.2f / %.2f. Medians of %d runs after a warm-up round "
            "(min-max in brackets), the logs in the page cache; \"Wall / reference\" divides by "
            "the first command of the fleet (`wc -l`, or `cat` of the per-machine logs)."
            % (datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
               os.cpu_count(), load[0], load[1], load[2], args.runs), ""] + lines
    print("\n".join(text))
    if args.output:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write("\n".join(text) + "\n")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--report", required=True, help="updater-report (Linux build)")
    parser.add_argument("--log", help="an existing log to read (default: write one)")
    parser.add_argument("--size", default="1G")
    parser.add_argument("--machines", type=int, default=5000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir")
    parser.add_argument("--markdown")
    parser.add_argument("--fleet", action="store_true")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--before")
    parser.add_argument("--floor")
    parser.add_argument("--output")
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    report = os.path.abspath(args.report)
    if args.fleet:
        if args.runs == 5 and "--runs" not in sys.argv:
            args.runs = 1 if args.smoke else 3
        return fleet_main(args, report)

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
