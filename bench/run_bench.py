#!/usr/bin/env python3
"""Measures the Linux program against the bare system calls of the same work.

usage: run_bench.py --build BUILD_DIR [--sizes 1000,10000,100000] [--define-sizes 1000,10000]
                    [--runs 5] [--dir DIR] [--copy-also-in DIR] [--copy-also-sizes 1000,10000]
                    [--markdown FILE] [--chart FILE] [--json FILE] [--check]
                    [--big-files FILE] [--extra-targets JSON[,JSON...]]

BUILD_DIR holds updater.run and bench/{baseline,run_one}. Everything happens in a fresh folder
below DIR (default: the system's temporary folder), removed at the end.

Workloads, for each N of --sizes (N procedures, each a section of its own listed in UPDATER's
PROC, each naming one file):
  exist  N EXIST procedures on existing files
  date   N DATE procedures on existing files (all newer than the date, so no flag is set)
  copy   N/2 COPY procedures of small files, then N/2 DELETE procedures of the copies
The baseline (bench/baseline.cc) makes the same system calls on the same files and nothing else.

Two more shapes of script, reported beside them:
  list   one EXIST procedure whose FILE lists the N files, comma-separated
  flags  N/2 EXIST procedures, each followed by a MSGBOX conditional on it (FLAG=E_i, 0) that
         stays silent, as every file exists
The baseline of both is the stat of each file.

The DEFINE set: N symbols, each value built on an earlier one (<S_k>=<S_(k-1)/2>/k), and ten
EXIST procedures using the last ones. The values stay short (about log2 N parts), so the work
is the table's own; a chain <S_k>=<S_(k-1)>/x would make the values themselves grow with N.

With --copy-also-in DIR, COPY + DELETE is measured once more in a temporary folder below DIR
(another file system, at the sizes of --copy-also-sizes: every copy is flushed to the disk there),
to tell the program's growth from that of the file system's own file creation.

--extra-targets adds the target rows of the big-file and Wine benchmarks (the JSON files of
bench/big_copy.py and bench/wine_exist.py) to the page's table of targets.

Every run is a fresh run_one process that spawns the command with standard input from /dev/null
and reports the wall time and getrusage(RUSAGE_CHILDREN) ru_maxrss. Program and baseline runs
alternate; the tables give medians. A run that shows a box (any output) or fails stops the
benchmark.
"""

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile

WORKLOADS = ("exist", "date", "copy")
EXTRA_WORKLOADS = ("list", "flags")
TITLES = {"exist": "EXIST", "date": "DATE", "copy": "COPY + DELETE", "define": "DEFINE",
          "list": "EXIST, one FILE list", "flags": "EXIST + conditional MSGBOX"}
RUN_TIMEOUT = 300  # seconds, per run

# Targets checked with --check (and shown in the Markdown).
RATIO_LIMITS = {"exist": 1.5, "date": 1.5, "copy": 1.2, "flags": 2.0}
GROWTH_LIMIT = 11.0
MEMORY_LIMIT_MB = 32.0
ONE_PROCEDURE_LIMIT_MS = 5.0
TARGET_WORKLOADS = ("exist", "date", "copy", "flags")
DEFINE_GROWTH_LIMIT = 12.0


class Bench:
    def __init__(self, build, runs, root):
        self.program = os.path.join(build, "updater.run")
        self.baseline = os.path.join(build, "bench", "baseline")
        self.run_one = os.path.join(build, "bench", "run_one")
        for tool in (self.program, self.baseline, self.run_one):
            if not os.access(tool, os.X_OK):
                sys.exit("missing %s: build the linux preset first" % tool)
        self.runs = runs
        self.root = root

    def run(self, command, folder):
        """One run: (seconds, max RSS in KB). Stops the benchmark on any output or failure."""
        output = os.path.join(folder, "run.out")
        result = subprocess.run([self.run_one, str(RUN_TIMEOUT), output] + command,
                                check=True, capture_output=True, text=True)
        seconds, rss, status = result.stdout.split()
        with open(output, "rb") as f:
            text = f.read()
        if status != "0" or text:
            sys.exit("run failed (%s): %s\n%s" % (status, " ".join(command),
                                                  text.decode("utf-8", "replace")[:2000]))
        return float(seconds), int(rss)

    def measure(self, commands, folder):
        """Alternates the commands `runs` times after one warm-up each; per command the
        median seconds, all times, and the highest peak memory in MB."""
        times = [[] for _ in commands]
        peaks = [0 for _ in commands]
        for command in commands:
            self.run(command, folder)
        for _ in range(self.runs):
            for i, command in enumerate(commands):
                seconds, rss = self.run(command, folder)
                times[i].append(seconds)
                peaks[i] = max(peaks[i], rss)
        return [{"median": statistics.median(t), "times": t, "peak_mb": p / 1024.0}
                for t, p in zip(times, peaks)]


def write_script(folder, program, proc_names, sections, defines=()):
    os.makedirs(folder, exist_ok=True)
    shutil.copy2(program, os.path.join(folder, "updater.run"))
    with open(os.path.join(folder, "updater.ini"), "w", encoding="ascii") as f:
        f.write("[UPDATER]\nNAME=Benchmark\nPROC=%s\n\n" % ", ".join(proc_names))
        if defines:
            f.write("[DEFINE]\n")
            f.writelines("%s\n" % line for line in defines)
            f.write("\n")
        f.writelines(sections)


def procedure_scripts(root, program, files, n, workloads=WORKLOADS + EXTRA_WORKLOADS):
    """The workload scripts for N procedures on the files of folder `files`, each in its own
    folder of `root` named after the workload."""
    define = ["<Data>=%s" % files]
    names = ["P%d" % i for i in range(n)]
    half = n // 2
    if "exist" in workloads:
        write_script(os.path.join(root, "exist"), program, names,
                     ["[P%d]\nMODE=EXIST\nFILE=<Data>/f%d.dat\n" % (i, i) for i in range(n)],
                     define)
    if "date" in workloads:
        write_script(os.path.join(root, "date"), program, names,
                     ["[P%d]\nMODE=DATE\nFILE=<Data>/f%d.dat\nDATE=2001/1/1\n" % (i, i)
                      for i in range(n)], define)
    if "copy" in workloads:
        copies = ["[C%d]\nMODE=COPY\nFROM=<Data>/f%d.dat\nTO=<Data>/d%d.dat\n" % (i, i, i)
                  for i in range(half)]
        deletes = ["[D%d]\nMODE=DELETE\nFILE=<Data>/d%d.dat\n" % (i, i) for i in range(half)]
        write_script(os.path.join(root, "copy"), program,
                     ["C%d" % i for i in range(half)] + ["D%d" % i for i in range(half)],
                     copies + deletes, define)
    if "list" not in workloads:
        return
    write_script(os.path.join(root, "list"), program, ["L"],
                 ["[L]\nMODE=EXIST\nFILE=%s\n" % ", ".join("<Data>/f%d.dat" % i for i in range(n))],
                 define)
    flags = []
    for i in range(half):
        flags.append("[E%d]\nMODE=EXIST\nFILE=<Data>/f%d.dat\n" % (i, i))
        flags.append("[M%d]\nMODE=MSGBOX\nFLAG=E%d, 0\nTYPE=WARNING\nTEXT=<Data>/f%d.dat is missing\n"
                     "ISABORT=0, 1\n" % (i, i, i))
    write_script(os.path.join(root, "flags"), program,
                 [name for i in range(half) for name in ("E%d" % i, "M%d" % i)], flags, define)


def define_script(folder, program, files, n):
    defines = ["<S0>=%s" % files] + ["<S%d>=<S%d>/%d" % (k, (k - 1) // 2, k) for k in range(1, n)]
    used = range(max(0, n - 10), n)
    write_script(folder, program, ["E%d" % k for k in used],
                 ["[E%d]\nMODE=EXIST\nFILE=<S%d>\n" % (k, k) for k in used], defines)


def make_files(folder, n):
    os.makedirs(folder, exist_ok=True)
    data = b"benchmark data line\n" * 5  # 100 bytes
    for i in range(n):
        with open(os.path.join(folder, "f%d.dat" % i), "wb") as f:
            f.write(data)


def file_system(path):
    """The type of the file system that holds `path`, from /proc/mounts."""
    path = os.path.realpath(path)
    best, kind = "", "unknown"
    try:
        with open("/proc/mounts", encoding="utf-8", errors="replace") as f:
            for line in f:
                fields = line.split()
                if len(fields) < 3:
                    continue
                point = fields[1].replace("\\040", " ")
                inside = path == point or path.startswith(point.rstrip("/") + "/")
                if inside and len(point) >= len(best):
                    best, kind = point, fields[2]
    except OSError:
        pass
    return kind


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"nproc": os.cpu_count(), "cpu": model, "kernel": platform.release(),
            "load": os.getloadavg()}


def benchmark(args, bench):
    results = {"procedures": {}, "define": {}, "one": None}
    for n in args.sizes:
        root = os.path.join(bench.root, "n%d" % n)
        files = os.path.join(root, "files")
        make_files(files, n)
        procedure_scripts(root, bench.program, files, n)
        for workload in WORKLOADS + EXTRA_WORKLOADS:
            folder = os.path.join(root, workload)
            base = {"list": ["exist", files, str(n)], "flags": ["exist", files, str(n // 2)]}.get(
                workload, [workload, files, str(n)])
            program, baseline = bench.measure(
                [[os.path.join(folder, "updater.run")], [bench.baseline] + base], folder)
            results["procedures"].setdefault(workload, {})[n] = {"program": program,
                                                                "baseline": baseline}
            print("%-6s N=%-7d program %9.2f ms  baseline %9.2f ms  ratio %5.2f  peak %6.1f MB"
                  % (workload, n, program["median"] * 1e3, baseline["median"] * 1e3,
                     program["median"] / baseline["median"], program["peak_mb"]), flush=True)
        shutil.rmtree(root)

    if args.copy_also_in:
        root = tempfile.mkdtemp(prefix="kestario-bench-", dir=args.copy_also_in)
        elsewhere = {"folder": args.copy_also_in, "fs": file_system(root), "sizes": {}}
        try:
            for n in args.copy_also_sizes:
                files = os.path.join(root, "files")
                make_files(files, n // 2)
                procedure_scripts(root, bench.program, files, n, ("copy",))
                folder = os.path.join(root, "copy")
                program, baseline = bench.measure(
                    [[os.path.join(folder, "updater.run")], [bench.baseline, "copy", files, str(n)]],
                    folder)
                elsewhere["sizes"][n] = {"program": program, "baseline": baseline}
                print("copy in %s N=%-7d program %9.2f ms  baseline %9.2f ms  ratio %5.2f"
                      % (args.copy_also_in, n, program["median"] * 1e3, baseline["median"] * 1e3,
                         program["median"] / baseline["median"]), flush=True)
                shutil.rmtree(files)
                shutil.rmtree(folder)
        finally:
            shutil.rmtree(root, ignore_errors=True)
        results["copy_elsewhere"] = elsewhere

    for n in args.define_sizes:
        root = os.path.join(bench.root, "define%d" % n)
        files = os.path.join(root, "files")
        os.makedirs(files)
        define_script(os.path.join(root, "script"), bench.program, files, n)
        folder = os.path.join(root, "script")
        (program,) = bench.measure([[os.path.join(folder, "updater.run")]], folder)
        results["define"][n] = {"program": program}
        print("define N=%-7d program %9.2f ms  peak %6.1f MB"
              % (n, program["median"] * 1e3, program["peak_mb"]), flush=True)
        shutil.rmtree(root)

    # One procedure, start to exit: more runs, as each is short.
    root = os.path.join(bench.root, "one")
    files = os.path.join(root, "files")
    make_files(files, 1)
    procedure_scripts(root, bench.program, files, 1)
    saved = bench.runs
    bench.runs = max(21, bench.runs)
    folder = os.path.join(root, "exist")
    program, baseline = bench.measure(
        [[os.path.join(folder, "updater.run")], [bench.baseline, "exist", files, "1"]], folder)
    bench.runs = saved
    results["one"] = {"program": program, "baseline": baseline}
    print("one procedure: program %.2f ms, baseline %.2f ms"
          % (program["median"] * 1e3, baseline["median"] * 1e3), flush=True)
    shutil.rmtree(root)
    return results


def growth(sizes, who):
    """time(100,000) / time(10,000) of "program" or "baseline" in a table of sizes."""
    return sizes[100000][who]["median"] / sizes[10000][who]["median"]


def checks(args, results):
    """(description, value text, met) for every target that the sizes measured allow."""
    found = []
    procedures = results["procedures"]
    if 10000 in args.sizes:
        for workload in TARGET_WORKLOADS:
            r = procedures[workload][10000]
            ratio = r["program"]["median"] / r["baseline"]["median"]
            limit = RATIO_LIMITS[workload]
            found.append(("%s: program / baseline at N = 10,000 <= %.1f" % (TITLES[workload], limit),
                          "%.2f" % ratio, ratio <= limit))
    if 10000 in args.sizes and 100000 in args.sizes:
        for workload in TARGET_WORKLOADS:
            program = growth(procedures[workload], "program")
            found.append(("%s: time(100,000) / time(10,000) <= %.0f" % (TITLES[workload],
                                                                       GROWTH_LIMIT),
                          "%.2f (baseline %.2f)" % (program,
                                                    growth(procedures[workload], "baseline")),
                          program <= GROWTH_LIMIT))
    if 100000 in args.sizes:
        for workload in TARGET_WORKLOADS:
            peak = procedures[workload][100000]["program"]["peak_mb"]
            found.append(("%s: peak memory at N = 100,000 <= %.0f MB" % (TITLES[workload],
                                                                        MEMORY_LIMIT_MB),
                          "%.1f MB" % peak, peak <= MEMORY_LIMIT_MB))
    if 1000 in results["define"] and 10000 in results["define"]:
        define_growth = (results["define"][10000]["program"]["median"]
                         / results["define"][1000]["program"]["median"])
        found.append(("DEFINE: time(10,000) / time(1,000) <= %.0f" % DEFINE_GROWTH_LIMIT,
                      "%.2f" % define_growth, define_growth <= DEFINE_GROWTH_LIMIT))
    one = results["one"]["program"]["median"] * 1e3
    found.append(("one-procedure script, start to exit < %.0f ms" % ONE_PROCEDURE_LIMIT_MS,
                  "%.2f ms" % one, one < ONE_PROCEDURE_LIMIT_MS))
    return found


def extra_targets(paths):
    """The target rows of the big-file and Wine benchmarks, from their JSON files."""
    rows = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            rows += [tuple(row) for row in json.load(f)["targets"]]
    return rows


def spread(measure):
    t = measure["times"]
    return "%.1f–%.1f" % (min(t) * 1e3, max(t) * 1e3)


def markdown(args, results, info, found):
    lines = []
    add = lines.append
    add("# Benchmark")
    add("")
    add("Generated by `scripts/bench` (driver `bench/run_bench.py`) on %s." % info["date"])
    add("")
    add("- Machine: %s cores (`nproc`), %s, Linux %s; load average at the start %s." %
        (info["nproc"], info["cpu"], info["kernel"], " / ".join("%.2f" % x for x in info["load"])))
    add("- Program: `%s` (%s build)." % (info["program"], info["build_type"]))
    add("- Temporary folder: `%s` (%s)." % (info["tmp"], info["tmp_fs"]))
    add("- Each figure is the median of %d runs after one warm-up run; program and baseline runs "
        "alternate. Min–max of the runs is given to show the noise." % args.runs)
    add("- Peak memory is `getrusage(RUSAGE_CHILDREN)` `ru_maxrss` of a fresh process that runs "
        "the program once (the highest of the runs).")
    add("- Scripts: N procedures, each a section of its own listed in UPDATER's PROC and naming "
        "one file through a DEFINE symbol (`FILE=<Data>/f42.dat`). COPY + DELETE is N/2 COPY "
        "procedures of 100-byte files followed by N/2 DELETE procedures of the copies, so N "
        "procedures in all.")
    add("- Baseline: `bench/baseline.cc`, the same system calls on the same files and nothing "
        "else: `stat` (EXIST); `open`, `fstat`, `close` and `localtime_r` (DATE); for COPY the "
        "system calls of the program's CopyFileA (open, fstat, fcntl, lstat and stat of the "
        "destination, its folder opened, an `O_TMPFILE` temporary filled by `FICLONE` or "
        "`copy_file_range`, fstat of the source, fchmod, futimens, fsync, linkat, rename, fsync "
        "of the folder, SIGXFSZ ignored and the ending signals held around it) and for DELETE "
        "`lstat` and `unlink`.")
    add("- Other agents share the machine's two cores, so every figure is a median of repeated "
        "runs, and the program and its baseline run alternately in the same run of the "
        "benchmark; the min–max columns show the noise.")
    add("")
    def table(workloads):
        add("| Workload | N | Program (ms) | Baseline (ms) | Ratio | Program peak (MB) | "
            "Program runs min–max (ms) | Baseline runs min–max (ms) |")
        add("|---|---:|---:|---:|---:|---:|---:|---:|")
        for workload in workloads:
            for n in args.sizes:
                r = results["procedures"][workload][n]
                p, b = r["program"], r["baseline"]
                add("| %s | %s | %.2f | %.2f | %.2f | %.1f | %s | %s |" %
                    (TITLES[workload], "{:,}".format(n), p["median"] * 1e3, b["median"] * 1e3,
                     p["median"] / b["median"], p["peak_mb"], spread(p), spread(b)))
        add("")

    add("## Procedures")
    add("")
    table(WORKLOADS)
    elsewhere = results.get("copy_elsewhere")
    if elsewhere:
        sizes = elsewhere["sizes"]
        spread_note = ""
        if 10000 in sizes and 100000 in sizes:
            spread_note = (" From 10,000 to 100,000 the program's time grows %.2f times and the "
                           "baseline's %.2f times: the growth is the file system's." %
                           (growth(sizes, "program"), growth(sizes, "baseline")))
        add("For comparison, COPY + DELETE again in a temporary folder below `%s` (%s), the "
            "disk's own file system, where every copy is flushed to the disk (program and "
            "baseline alike) and creating a file slows down after many deletions (see the "
            "notes).%s" % (elsewhere["folder"], elsewhere["fs"], spread_note))
        add("")
        add("| N | Program (ms) | Baseline (ms) | Ratio | Program runs min–max (ms) | "
            "Baseline runs min–max (ms) |")
        add("|---:|---:|---:|---:|---:|---:|")
        for n in sorted(elsewhere["sizes"]):
            p, b = elsewhere["sizes"][n]["program"], elsewhere["sizes"][n]["baseline"]
            add("| %s | %.2f | %.2f | %.2f | %s | %s |" %
                ("{:,}".format(n), p["median"] * 1e3, b["median"] * 1e3,
                 p["median"] / b["median"], spread(p), spread(b)))
        add("")
    add("## Other shapes of script")
    add("")
    add("- EXIST, one FILE list: a single EXIST procedure whose FILE lists the N files "
        "(`FILE=<Data>/f0.dat, <Data>/f1.dat, ...`).")
    add("- EXIST + conditional MSGBOX: N/2 EXIST procedures, each followed by a MSGBOX with "
        "`FLAG=E42, 0`, which stays silent since every file exists; each MSGBOX looks its EXIST "
        "up by name.")
    add("- The baseline of both is the `stat` of each file (N, and N/2).")
    add("")
    table(EXTRA_WORKLOADS)
    if args.define_sizes:
        add("## DEFINE section")
        add("")
        add("N symbols, each value built on an earlier one (`<S0>=<folder>`, "
            "`<S_k>=<S_(k-1)/2>/k`), and ten EXIST procedures on the last ones (missing files: "
            "EXIST just leaves its flag at 0). A chain `<S_k>=<S_(k-1)>/x` would give values that "
            "grow with N, so the table would hold N²/2 bytes by definition; the halving keeps "
            "every value about log2 N parts long.")
        add("")
        add("| N symbols | Program (ms) | Program peak (MB) | Program runs min–max (ms) |")
        add("|---:|---:|---:|---:|")
        for n in args.define_sizes:
            p = results["define"][n]["program"]
            add("| %s | %.2f | %.1f | %s |" % ("{:,}".format(n), p["median"] * 1e3, p["peak_mb"],
                                                spread(p)))
        add("")
    one = results["one"]
    add("## One procedure")
    add("")
    add("One EXIST procedure, start to exit, median of %d runs: program %.2f ms (min–max %s), "
        "baseline %.2f ms, peak %.1f MB." %
        (len(one["program"]["times"]), one["program"]["median"] * 1e3, spread(one["program"]),
         one["baseline"]["median"] * 1e3, one["program"]["peak_mb"]))
    add("")
    add("## Notes")
    add("")
    add("- The machine's two cores are shared with other builds; the load average above and the "
        "min–max columns show how calm it was. Ratios at N = 1,000 include the start of the "
        "process, which the baseline pays too (about 1 ms).")
    add("- Reading the script costs one look at the file per procedure list, not one per value: "
        "the list build opens a round of reads, the first read of the round checks the script "
        "(one `stat`, and a new parse only when it changed) and every other value of the list "
        "comes from that parse. An EXIST procedure makes one `stat`, the file's own, as the "
        "baseline does; what remains is the user-space work of reading, expanding and "
        "recording the values.")
    add("- COPY + DELETE time is almost all the file system creating and removing files. On ext4 "
        "without a journal the kernel passes over inodes freed in the last minutes when it "
        "allocates one, checking each (`recently_deleted` in a profile), so after the deletions "
        "of the runs before, each new file costs time in proportion to them: the time grows "
        "faster than N for the baseline as much as for the program, and varies with what ran "
        "just before. The main tables run in the folder named at the top; the second COPY + DELETE "
        "table runs the same work on another file system, to tell its growth from the "
        "program's.")
    add("- Peak memory is the parsed script (the file's bytes, and 16 bytes per section for its "
        "name and body) and the procedure records with their texts (about 0.2 KB per "
        "procedure, the expanded path being the largest part); blocks of up to 128 bytes "
        "come from slabs without a heap header. A MSGBOX record holds six texts (name, MODE, "
        "FLAG, TYPE, TEXT with its expanded path, ISABORT) and its section four more lines "
        "in the script, so the EXIST + conditional MSGBOX script needs more per procedure than "
        "the others.")
    add("- With the system calls the baseline's, the ratios measure the program's own work per "
        "procedure: each value is looked up in the parse, expanded and copied into its record, "
        "each record and text is allocated, and the run dispatches by MODE; the first touch of "
        "the pages that the records fill costs some microseconds each in this virtual machine. "
        "The EXIST + conditional MSGBOX list reads seven values (MODE and FILE of the EXIST; "
        "MODE, FLAG, TYPE, TEXT with a symbol, and ISABORT of the MSGBOX) for the one `stat` of "
        "each pair, which is all its baseline makes, so it stays furthest from its baseline.")
    add("")
    add("## Targets")
    add("")
    add("| Target | Measured | Met |")
    add("|---|---:|---|")
    for description, value, met in found:
        add("| %s | %s | %s |" % (description, value, "yes" if met else "**no**"))
    add("")
    if args.chart:
        add("![Wall time against N](images/%s)" % os.path.basename(args.chart))
        add("")
    return "\n".join(lines)


def chart(args, results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(8, 5.5))
    colors = {"exist": "tab:blue", "date": "tab:orange", "copy": "tab:green",
              "define": "tab:purple", "list": "tab:red", "flags": "tab:brown"}
    for workload in EXTRA_WORKLOADS:
        data = results["procedures"][workload]
        ns = sorted(data)
        ax.plot(ns, [data[n]["program"]["median"] * 1e3 for n in ns], "v-",
                color=colors[workload], label="%s, program" % TITLES[workload])
    for workload in WORKLOADS:
        data = results["procedures"][workload]
        ns = sorted(data)
        ax.plot(ns, [data[n]["program"]["median"] * 1e3 for n in ns], "o-",
                color=colors[workload], label="%s, program" % TITLES[workload])
        ax.plot(ns, [data[n]["baseline"]["median"] * 1e3 for n in ns], "s--",
                color=colors[workload], alpha=0.6, label="%s, baseline" % TITLES[workload])
    if results["define"]:
        ns = sorted(results["define"])
        ax.plot(ns, [results["define"][n]["program"]["median"] * 1e3 for n in ns], "^-",
                color=colors["define"], label="DEFINE symbols, program")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("N (procedures, or symbols for DEFINE)")
    ax.set_ylabel("wall time, median (ms)")
    ax.set_title("Kestario Updater (Linux) against the bare system calls")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    fig.savefig(path, dpi=110)


def with_big_files_section(text, markdown_path, big_files_path):
    """The page with its "## Big files" section (bench/big_copy.py): the one in `big_files_path`
    when given, else the one the page at `markdown_path` already has, so that a run of the
    procedure benchmark alone keeps the big-file figures. The fleet report's section
    (bench/report_speed.py) stays at the end as it was."""
    marker = "## Big files"
    report_marker = "## The fleet report"
    old = ""
    if os.path.exists(markdown_path):
        with open(markdown_path, encoding="utf-8") as f:
            old = f.read()
    report = old[old.index(report_marker):] if report_marker in old else ""
    old = old[:old.index(report_marker)] if report else old
    section = ""
    if big_files_path:
        with open(big_files_path, encoding="utf-8") as f:
            section = f.read()
    elif marker in old:
        section = old[old.index(marker):]
    for part in (section, report):
        if part:
            text = text.rstrip("\n") + "\n\n" + part.rstrip("\n") + "\n"
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--build-type", default="RelWithDebInfo")
    parser.add_argument("--sizes", default="1000,10000,100000")
    parser.add_argument("--define-sizes", default="1000,10000")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir", metavar="DIR",
                        help="make the benchmark's folder below DIR (default: the system's "
                             "temporary folder)")
    parser.add_argument("--copy-also-in", metavar="DIR",
                        help="measure COPY + DELETE once more below DIR (e.g. the disk)")
    parser.add_argument("--copy-also-sizes", default="1000,10000",
                        help="the sizes of that second COPY + DELETE (each copy is flushed there)")
    parser.add_argument("--extra-targets", default="",
                        help="JSON files of bench/big_copy.py and bench/wine_exist.py, whose "
                             "target rows join the page's table")
    parser.add_argument("--markdown")
    parser.add_argument("--chart")
    parser.add_argument("--json")
    parser.add_argument("--big-files", metavar="FILE",
                        help="the big-file section made by bench/big_copy.py, put at the end of "
                             "the markdown page (default: keep the page's own)")
    parser.add_argument("--check", action="store_true",
                        help="exit 1 when a target that the sizes allow is missed")
    args = parser.parse_args()
    args.sizes = [int(x) for x in args.sizes.split(",") if x]
    args.define_sizes = [int(x) for x in args.define_sizes.split(",") if x]
    args.copy_also_sizes = [int(x) for x in args.copy_also_sizes.split(",") if x]

    info = machine()
    info["date"] = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
    info["build_type"] = args.build_type
    root = tempfile.mkdtemp(prefix="kestario-bench-", dir=args.dir)
    info["tmp"] = os.path.dirname(root)
    info["tmp_fs"] = file_system(root)
    try:
        bench = Bench(os.path.abspath(args.build), args.runs, root)
        info["program"] = os.path.relpath(bench.program, os.getcwd())
        results = benchmark(args, bench)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    found = checks(args, results)
    extra = extra_targets([p for p in args.extra_targets.split(",") if p])
    for description, value, met in found:
        print("%-60s %12s  %s" % (description, value, "met" if met else "MISSED"))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"machine": info, "results": results}, f, indent=1, default=str)
    if args.chart:
        chart(args, results, args.chart)
    if args.markdown:
        page = with_big_files_section(markdown(args, results, info, found + extra), args.markdown,
                                      args.big_files)
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(page)
    if args.check and not all(met for _, _, met in found):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
