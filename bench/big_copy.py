#!/usr/bin/env python3
"""Big-file COPY benchmark: one COPY procedure of a large file over an old destination.

Linux: the program against `cp --reflink=auto` followed by `sync FILE` (an fsync of the copy), in
each folder given (ext4, tmpfs, btrfs ...); on a file system with reflinks it also tells whether
the copy shares its blocks with the source. Windows (with --exe): updater.exe under Wine against
bench/copy_baseline_win.cc (a bare CopyFileA and FlushFileBuffers of the copy) under the same
Wine. Runs alternate (program, baseline, older program if given) and the median is reported.

usage: big_copy.py --program updater.run [--before OLD.run] --dir DIR[,DIR...] [--size-mb N]
                   [--exe updater.exe --baseline-exe copy_baseline.exe [--before-exe OLD.exe]
                    --wine-dir DIR --wine-size-mb N] [--runs N] [--markdown FILE] [--json FILE]

On a file system with reflinks (btrfs, XFS) the copy must share its blocks with the source: the
table shows how much the used space grew with the program's copy (statvfs before and after) and
whether `filefrag -v` marks the copy's extents "shared".
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WINE = os.environ.get("WINE_BIN", "/usr/lib/wine/wine64")


def fs_type(path):
    out = subprocess.run(["df", "--output=fstype", path], capture_output=True, text=True).stdout
    return out.split()[-1]


def make_source(path, megabytes):
    with open("/dev/urandom", "rb") as noise, open(path, "wb") as f:
        block = noise.read(1 << 20)
        for i in range(megabytes):
            f.write(block[i % 256:] + block[:i % 256])


def write_script(folder, exe_name, source, dest):
    script = ("[UPDATER]\nNAME=Big copy\nPROC=C\n[C]\nMODE=COPY\nFROM=%s\nTO=%s\n" % (source, dest))
    with open(os.path.join(folder, os.path.splitext(exe_name)[0] + ".ini"), "wb") as f:
        f.write(script.replace("\n", "\r\n" if exe_name.endswith(".exe") else "\n").encode())


def set_up_programs(work, program, before, exe_name, source, dest):
    """A folder WORK/NAME with the program and its COPY script for "program" (and "before")."""
    programs = {"program": program}
    if before:
        programs["before"] = before
    for name, path in programs.items():
        sub = os.path.join(work, name)
        os.mkdir(sub)
        shutil.copy2(path, os.path.join(sub, exe_name))
        write_script(sub, exe_name, source, dest)
    return programs


def timed(command, cwd, env=None):
    # Output into a file, not a pipe: the Wine services that a first run starts keep a pipe
    # open after the program has ended, and reading it to its end would wait for them (with
    # pipes every start under Wine took about 2.7 s more, which swamped what is measured).
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        proc = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=err)
        elapsed = time.perf_counter() - start
        err.seek(0)
        stderr = err.read()
    if proc.returncode != 0 or stderr.strip() and not command[0].endswith("wine64"):
        raise RuntimeError("%s failed: %r" % (command, stderr[-300:]))
    return elapsed


def fresh_destination(dest):
    if os.path.exists(dest):
        os.remove(dest)
    with open(dest, "wb") as f:
        f.write(b"old destination\n")


REFLINK_FILE_SYSTEMS = ("btrfs", "xfs")
LINUX_LIMIT = 1.05
WINE_LIMIT = 1.10


def filefrag_shared(path):
    """Whether filefrag -v marks every extent of the file "shared" (None without filefrag)."""
    try:
        out = subprocess.run(["filefrag", "-v", path], capture_output=True, text=True).stdout
    except OSError:
        return None
    extents = [line for line in out.splitlines() if line.strip()[:1].isdigit() and ":" in line]
    return bool(extents) and all("shared" in line for line in extents)


def used_bytes(path):
    st = os.statvfs(path)
    return (st.f_blocks - st.f_bfree) * st.f_frsize


def linux_rows(args, folder):
    work = tempfile.mkdtemp(prefix="kestario-bigcopy-", dir=folder)
    rows = []
    try:
        source = os.path.join(work, "big.bin")
        dest = os.path.join(work, "dest.bin")
        make_source(source, args.size_mb)
        programs = set_up_programs(work, args.program, args.before, "updater.run", source, dest)
        times = {name: [] for name in list(programs) + ["cp + fsync"]}
        shared = None
        grown_mb = None
        frag_shared = None
        for run in range(args.runs + 1):
            for name in list(programs) + ["cp + fsync"]:
                fresh_destination(dest)
                subprocess.run(["sync", "-f", dest])
                if name == "cp + fsync":
                    start = time.perf_counter()
                    subprocess.run(["cp", "--reflink=auto", source, dest], check=True)
                    subprocess.run(["sync", dest], check=True)
                    elapsed = time.perf_counter() - start
                else:
                    before_use = used_bytes(work)
                    elapsed = timed([os.path.join(work, name, "updater.run")],
                                    os.path.join(work, name))
                    if name == "program":
                        subprocess.run(["sync", "-f", dest])
                        grown = used_bytes(work) - before_use
                        shared = grown < (args.size_mb << 20) // 4
                        grown_mb = max(grown, 0) / float(1 << 20)
                        frag_shared = filefrag_shared(dest)
                if run > 0:  # the first round warms the cache
                    times[name].append(elapsed)
        rows.append((folder, fs_type(work), times, {"shared": shared, "grown_mb": grown_mb,
                                                    "filefrag_shared": frag_shared}))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return rows


def wine_rows(args):
    work = tempfile.mkdtemp(prefix="kestario-bigcopy-wine-", dir=args.wine_dir)
    env = dict(os.environ, WINEDEBUG="-all", LANG="ja_JP.UTF-8")
    env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(os.path.abspath(args.exe)),
                                              "wineprefix"))
    try:
        source = os.path.join(work, "big.bin")
        dest = os.path.join(work, "dest.bin")
        make_source(source, args.wine_size_mb)
        winsource = "Z:" + source.replace("/", "\\")
        windest = "Z:" + dest.replace("/", "\\")
        programs = set_up_programs(work, args.exe, args.before_exe, "updater.exe", winsource,
                                   windest)
        subprocess.run([os.path.join(os.path.dirname(WINE), "wineserver"), "-p10"], env=env)
        names = list(programs) + ["CopyFileA + FlushFileBuffers"]
        times = {name: [] for name in names}
        for run in range(args.runs + 1):
            for name in names:
                fresh_destination(dest)
                if name in programs:
                    command = [WINE, os.path.join(work, name, "updater.exe")]
                    cwd = os.path.join(work, name)
                else:
                    command = [WINE, os.path.abspath(args.baseline_exe), winsource, windest]
                    cwd = work
                elapsed = timed(command, cwd, env)
                if os.path.getsize(dest) != os.path.getsize(source):
                    raise RuntimeError("%s did not copy the file" % name)
                if run > 0:
                    times[name].append(elapsed)
        return [(args.wine_dir, fs_type(work), times, None)]
    finally:
        shutil.rmtree(work, ignore_errors=True)


def section(args, linux, wine):
    def fmt(values):
        return "%.3f" % statistics.median(values), "%.3f–%.3f" % (min(values), max(values))

    out = ["## Big files", "",
           "Generated by `bench/big_copy.py` (`scripts/bench --big-files`) on %s; %d runs after "
           "one warm-up round, program and baseline alternating; times in seconds (median, and "
           "min–max to show the noise of a shared machine). One COPY procedure of a file of "
           "random bytes over a small old destination in the same folder; the source is in the "
           "page cache." % (time.strftime("%Y-%m-%d %H:%M %Z"), args.runs), ""]
    if linux:
        out += ["Linux, %d MB: the program (`before`: the program as it was before the kernel "
                "copy and the durable replace) against `cp --reflink=auto` followed by `sync FILE` "
                "(an fsync of the copy). Target: program ≤ %.2f × cp + fsync; on a file system "
                "with reflinks (btrfs, XFS on a loop device) the copy shares the source's blocks, "
                "as `cp --reflink=auto` makes it: the used space hardly grows, and `filefrag -v` "
                "marks the copy's extents shared." % (args.size_mb, LINUX_LIMIT), "",
                "| Folder | File system | Program | cp + fsync | Ratio | Before | Program "
                "min–max | cp + fsync min–max | Used space grew (MB) | filefrag: shared |",
                "|---|---|---|---|---|---|---|---|---|---|"]
        for folder, fs, times, blocks in linux:
            p, pr = fmt(times["program"])
            c, cr = fmt(times["cp + fsync"])
            b = fmt(times["before"])[0] if "before" in times else "–"
            ratio = statistics.median(times["program"]) / statistics.median(times["cp + fsync"])
            frag = blocks["filefrag_shared"]
            out.append("| `%s` | %s | %s | %s | %.2f | %s | %s | %s | %s | %s |" % (
                folder, fs, p, c, ratio, b, pr, cr,
                "%.0f" % blocks["grown_mb"] if blocks["grown_mb"] is not None else "–",
                "–" if frag is None else ("yes" if frag else "no")))
        out.append("")
    if wine:
        out += ["Windows under Wine, %d MB: `updater.exe` against a bare `CopyFileA` followed by "
                "`FlushFileBuffers` of the copy (`bench/copy_baseline_win.cc`), both started the "
                "same way under the same Wine, start-up included. Target: ≤ %.2f ×." %
                (args.wine_size_mb, WINE_LIMIT), "",
                "| Folder | File system | Program | CopyFileA + flush | Ratio | Before | "
                "Program min–max | Baseline min–max |", "|---|---|---|---|---|---|---|---|"]
        for folder, fs, times, _ in wine:
            p, pr = fmt(times["program"])
            c, cr = fmt(times["CopyFileA + FlushFileBuffers"])
            b = fmt(times["before"])[0] if "before" in times else "–"
            ratio = (statistics.median(times["program"]) /
                     statistics.median(times["CopyFileA + FlushFileBuffers"]))
            out.append("| `%s` | %s | %s | %s | %.2f | %s | %s | %s |" % (
                folder, fs, p, c, ratio, b, pr, cr))
        out.append("")
    return "\n".join(out) + "\n"


def targets(args, linux, wine):
    """(description, measured, met) rows of the big-file targets."""
    rows = []
    for folder, fs, times, blocks in linux:
        program = statistics.median(times["program"])
        cp = statistics.median(times["cp + fsync"])
        if fs in REFLINK_FILE_SYSTEMS:
            # A shared copy takes milliseconds, the start of the processes: the target is the
            # sharing, the times are shown beside it.
            shared = bool(blocks["shared"]) and blocks["filefrag_shared"] is not False
            rows.append(("COPY of %d MB on %s: the copy shares the source's blocks, as "
                         "cp --reflink=auto" % (args.size_mb, fs),
                         "used space +%.0f MB, filefrag %s (%.3f s, cp %.3f s)" % (
                             blocks["grown_mb"] or 0.0,
                             {None: "–", True: "shared", False: "not shared"}[
                                 blocks["filefrag_shared"]], program, cp), shared))
            continue
        ratio = program / cp
        rows.append(("COPY of %d MB, Linux, %s: program / (cp + fsync) <= %.2f" %
                     (args.size_mb, fs, LINUX_LIMIT), "%.2f" % ratio, ratio <= LINUX_LIMIT))
    for _, _, times, _ in wine:
        ratio = (statistics.median(times["program"]) /
                 statistics.median(times["CopyFileA + FlushFileBuffers"]))
        rows.append(("COPY of %d MB, Wine: program / (CopyFileA + FlushFileBuffers) <= %.2f" %
                     (args.wine_size_mb, WINE_LIMIT), "%.2f" % ratio, ratio <= WINE_LIMIT))
    return rows


def write_outputs(text, markdown_path, json_path, data):
    """Prints a benchmark's markdown section and writes it to `markdown_path`, and `data()` as JSON
    to `json_path`, each when given (shared by the benchmarks of this folder)."""
    print(text)
    if markdown_path:
        with open(markdown_path, "w", encoding="utf-8") as f:
            f.write(text)
    if json_path:
        with open(json_path, "w", encoding="utf-8") as f:
            json.dump(data(), f, indent=1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program")
    parser.add_argument("--before")
    parser.add_argument("--dir", default="")
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--exe")
    parser.add_argument("--baseline-exe")
    parser.add_argument("--before-exe")
    parser.add_argument("--wine-dir", default=tempfile.gettempdir())
    parser.add_argument("--wine-size-mb", type=int, default=256)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--markdown")
    parser.add_argument("--json")
    args = parser.parse_args()
    linux = []
    if args.program:
        for folder in [d for d in args.dir.split(",") if d]:
            linux += linux_rows(args, folder)
    wine = wine_rows(args) if args.exe else []
    write_outputs(section(args, linux, wine), args.markdown, args.json,
                  lambda: {"targets": targets(args, linux, wine)})
    return 0


if __name__ == "__main__":
    sys.exit(main())
