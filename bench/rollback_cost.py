#!/usr/bin/env python3
"""What ROLLBACK costs: the same run with and without it, as a ratio.

Two workloads, each in every folder given (Linux) and under Wine (with --exe):
  big    one COPY of a file of random bytes over a small old destination (the old file is kept,
         then removed when the run finishes)
  items  N procedures: N/2 COPY procedures of 100-byte files to new names, then N/2 DELETE
         procedures of the copies (each copy is marked, each deleted file kept and removed)
The two scripts differ only in UPDATER's ROLLBACK=1. Runs alternate (without, with) after one
warm-up round; the median of each is reported, and the ratio with / without.

usage: rollback_cost.py --program updater-e2e.run --dir DIR[,DIR...] [--size-mb 1024] [--items N]
                        [--exe updater.exe --wine-dir DIR --wine-size-mb N] [--runs N]
                        [--markdown FILE] [--json FILE]

PROGRAM is the Linux program built to keep its rollback journals below its own folder (the
end-to-end tests' build), so that the benchmark writes nothing outside its folders: the journal
then lies on the file system of the data, as the machine's /var/tmp does for data on the disk.
Under Wine the journal goes to the prefix's C:\\ProgramData.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from big_copy import WINE, fresh_destination, fs_type, make_source, timed, write_outputs  # noqa: E402

LIMITS = {"big": 1.05, "items": 1.5}
TITLES = {"big": "COPY of %d MB", "items": "%d COPY and DELETE items"}


def write_scripts(work, program, exe_name, body, separator):
    """Folders WORK/without and WORK/with: the program and its script, with ROLLBACK=1 or not."""
    folders = {}
    for name, extra in (("without", ""), ("with", "ROLLBACK=1\n")):
        folder = os.path.join(work, name)
        os.makedirs(folder)
        shutil.copy2(program, os.path.join(folder, exe_name))
        text = body.replace("[UPDATER]\n", "[UPDATER]\n" + extra, 1)
        with open(os.path.join(folder, os.path.splitext(exe_name)[0] + ".ini"), "wb") as f:
            f.write(text.replace("\n", separator).encode("ascii"))
        folders[name] = folder
    return folders


def items_script(data, sep, n):
    half = n // 2
    names = ["C%d" % i for i in range(half)] + ["D%d" % i for i in range(half)]
    lines = ["[UPDATER]", "NAME=Benchmark", "PROC=" + ", ".join(names), "[DEFINE]",
             "<Data>=" + data]
    for i in range(half):
        lines += ["[C%d]" % i, "MODE=COPY", "FROM=<Data>%sf%d.dat" % (sep, i),
                  "TO=<Data>%sd%d.dat" % (sep, i)]
    for i in range(half):
        lines += ["[D%d]" % i, "MODE=DELETE", "FILE=<Data>%sd%d.dat" % (sep, i)]
    return "\n".join(lines) + "\n"


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(work, folders, command_of, runs, before_each, env=None):
    """{name: [(wall seconds, processor seconds)]}: the processor time of the run's processes
    (user and system), which other work on a shared machine moves less than the wall time."""
    times = {name: [] for name in folders}
    for run in range(runs + 1):
        for name, folder in folders.items():
            before_each()
            cpu = cpu_seconds()
            elapsed = timed(command_of(folder), folder, env)
            if run > 0:  # the first round warms the cache
                times[name].append((elapsed, cpu_seconds() - cpu))
    return times


def workloads(work, program, exe_name, path_of, sep, separator, args, size_mb, env=None):
    """[(workload, times)] for the big COPY and the items, in `work`."""
    command_of = ((lambda folder: [WINE, os.path.join(folder, exe_name)]) if env is not None
                  else (lambda folder: [os.path.join(folder, exe_name)]))
    results = []
    source = os.path.join(work, "big.bin")
    dest = os.path.join(work, "dest.bin")
    make_source(source, size_mb)
    big = "[UPDATER]\nNAME=Big copy\nPROC=C\n[C]\nMODE=COPY\nFROM=%s\nTO=%s\n" % (
        path_of(source), path_of(dest))
    folders = write_scripts(os.path.join(work, "big"), program, exe_name, big, separator)
    times = measure(work, folders, command_of, args.runs, lambda: fresh_destination(dest), env)
    results.append(("big", times))
    os.remove(source)
    data = os.path.join(work, "data")
    os.mkdir(data)
    for i in range(args.items // 2):
        with open(os.path.join(data, "f%d.dat" % i), "wb") as f:
            f.write(b"benchmark data line\n" * 5)
    folders = write_scripts(os.path.join(work, "items"), program, exe_name,
                            items_script(path_of(data), sep, args.items), separator)
    results.append(("items", measure(work, folders, command_of, args.runs, lambda: None, env)))
    left = [name for name in os.listdir(data) if not name.startswith("f")]
    if left:
        raise RuntimeError("the items left %s" % left[:5])
    return results


def row(place, system, workload, times, size):
    wall = {name: [t[0] for t in runs] for name, runs in times.items()}
    cpu = {name: statistics.median([t[1] for t in runs]) for name, runs in times.items()}
    without = statistics.median(wall["without"])
    with_ = statistics.median(wall["with"])
    return {"place": place, "fs": system, "workload": workload, "size": size,
            "without": without, "with": with_, "ratio": with_ / without,
            "without_range": (min(wall["without"]), max(wall["without"])),
            "with_range": (min(wall["with"]), max(wall["with"])),
            "cpu_without": cpu["without"], "cpu_with": cpu["with"],
            "cpu_ratio": cpu["with"] / cpu["without"] if cpu["without"] > 0 else 0.0}


def section(args, rows):
    lines = ["## Rollback", "",
             "Generated by `bench/rollback_cost.py` (`scripts/bench --big-files`); %d runs after one "
             "warm-up round, the run without `ROLLBACK` and the one with it alternating; times in "
             "seconds (median, and min–max). The two scripts differ only in `ROLLBACK=1`: `big` is "
             "one COPY of a file of random bytes over a small old destination (the old file is kept "
             "as a hard link, then removed at the end), `items` is %d procedures, %d COPY of "
             "100-byte files to new names and as many DELETE of the copies (each new file marked, "
             "each deleted file renamed aside, all of it removed at the end), in one procedure "
             "list: one flushed write of the journal for the list." % (args.runs, args.items,
                                                                       args.items // 2), "",
             "| Build | Folder | File system | Workload | Without | With | Ratio | Target | Processor "
             "time without / with (ratio) | Without min–max | With min–max |",
             "|---|---|---|---|---:|---:|---:|---:|---|---|---|"]
    for r in rows:
        title = TITLES[r["workload"]] % r["size"]
        lines.append("| %s | `%s` | %s | %s | %.3f | %.3f | %.2f | %.2f | %.3f / %.3f (%.2f) | "
                     "%.3f–%.3f | %.3f–%.3f |" % (
                         r["build"], r["place"], r["fs"], title, r["without"], r["with"],
                         r["ratio"], LIMITS[r["workload"]], r["cpu_without"], r["cpu_with"],
                         r["cpu_ratio"], r["without_range"][0], r["without_range"][1],
                         r["with_range"][0], r["with_range"][1]))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program")
    parser.add_argument("--dir", default="")
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--items", type=int, default=1000)
    parser.add_argument("--exe")
    parser.add_argument("--wine-dir", default=tempfile.gettempdir())
    parser.add_argument("--wine-size-mb", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--markdown")
    parser.add_argument("--json")
    args = parser.parse_args()
    rows = []
    for place in [d for d in args.dir.split(",") if d]:
        work = tempfile.mkdtemp(prefix="kestario-rollback-bench-", dir=place)
        try:
            for workload, times in workloads(work, os.path.abspath(args.program), "updater.run",
                                             lambda p: p, "/", "\n", args, args.size_mb):
                size = args.size_mb if workload == "big" else args.items
                rows.append(dict(row(place, fs_type(work), workload, times, size), build="Linux"))
        finally:
            shutil.rmtree(work, ignore_errors=True)
    if args.exe:
        env = dict(os.environ, WINEDEBUG="-all", LANG="ja_JP.UTF-8")
        env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(os.path.abspath(args.exe)),
                                                  "wineprefix"))
        subprocess.run([os.path.join(os.path.dirname(WINE), "wineserver"), "-p10"], env=env)
        work = tempfile.mkdtemp(prefix="kestario-rollback-bench-wine-", dir=args.wine_dir)
        try:
            for workload, times in workloads(work, os.path.abspath(args.exe), "updater.exe",
                                             lambda p: "Z:" + p.replace("/", "\\"), "\\", "\r\n",
                                             args, args.wine_size_mb, env):
                size = args.wine_size_mb if workload == "big" else args.items
                rows.append(dict(row(args.wine_dir, fs_type(work), workload, times, size),
                                 build="Windows (Wine)"))
        finally:
            shutil.rmtree(work, ignore_errors=True)
    # (target, measured, met), as the page's table of targets takes them.
    targets = [("%s, %s in `%s` (%s): with / without ROLLBACK <= %.2f" % (
        r["build"], TITLES[r["workload"]] % r["size"], r["place"], r["fs"], LIMITS[r["workload"]]),
        "%.2f" % r["ratio"], r["ratio"] <= LIMITS[r["workload"]]) for r in rows]
    write_outputs(section(args, rows), args.markdown, args.json,
                  lambda: {"rows": rows, "targets": targets})
    return 0 if all(met for _, _, met in targets) else 1


if __name__ == "__main__":
    sys.exit(main())
