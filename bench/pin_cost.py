#!/usr/bin/env python3
"""What a pin costs (HASH of COPY), side by side with `openssl dgst -sha256` in one run.

usage: pin_cost.py --build BUILD_DIR [--dir DIR] [--size-mb N] [--files N] [--runs N]
                   [--markdown FILE]

In a fresh folder under DIR (default: the system's temporary folder) it writes a source of N MiB
(default 1024) of noise and measures, alternating the contenders run by run and taking the median:

1. Hashing: the program's SHA-256 of the file (bench/hash_file: HashFile through the real system,
   as a pinned COPY hashes a destination) against `openssl dgst -sha256` of the same file.
   Target: within 10 %.
2. A pinned COPY of the file over an old destination (the program with HASH) against the same
   COPY without HASH, plus `openssl dgst -sha256` of the file. Target: pinned <= unpinned + dgst.
3. A rerun where every destination is current: one pinned COPY of --files files (default 4) that
   share the size, whose destinations already hold the pinned bytes, against `openssl dgst
   -sha256` of the destinations. Target: <= 1.1 x dgst. The bytes the run read from the sources
   are counted with strace (every read, pread and copy_file_range on a descriptor of a source,
   and every open of one), beside the run's rchar from /proc/PID/io (all it read: the
   destinations, its script, its libraries).

The files stay in the page cache (they were just written), so the figures compare the work of
hashing and copying, not the disk. Each figure is a median of wall time and of processor time
(user and system, from the children's rusage); the targets are judged on processor time, which a
machine shared with other work moves far less, with the wall-time ratio beside it. Prints a
table; --markdown writes it to FILE too.
"""

import argparse
import hashlib
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, **kwargs):
    """(wall time, processor time: user and system) of one run of `command`."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def make_noise(path, megabytes, seed):
    block = hashlib.sha256(str(seed).encode()).digest() * (1 << 15)  # 1 MiB
    digest = hashlib.sha256()
    with open(path, "wb") as f:
        for i in range(megabytes):
            chunk = block[i % 251:] + block[:i % 251]
            f.write(chunk)
            digest.update(chunk)
    return digest.hexdigest()


def write_script(folder, pairs, pins):
    lines = ["[UPDATER]", "NAME=Pin cost", "PROC=C", "[C]", "MODE=COPY",
             "FROM=" + ", ".join(source for source, _ in pairs),
             "TO=" + ", ".join(destination for _, destination in pairs)]
    if pins:
        lines.append("HASH=" + ", ".join(pins))
    with open(os.path.join(folder, "updater.ini"), "w") as f:
        f.write("\n".join(lines) + "\n")


def program_in(folder, program):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "updater.run")
    shutil.copy2(program, path)
    return path


class Figure:
    """The medians of one contender's runs: wall time and processor time."""

    def __init__(self, runs):
        self.wall = statistics.median(run[0] for run in runs)
        self.cpu = statistics.median(run[1] for run in runs)

    def __add__(self, other):
        total = Figure([(0, 0)])
        total.wall, total.cpu = self.wall + other.wall, self.cpu + other.cpu
        return total

    def __str__(self):
        return "%.3f s (processor %.3f s)" % (self.wall, self.cpu)


def median_of(runs, contenders):
    """Runs every contender once per round, in turn, after one warm-up round, `runs` rounds."""
    for run in contenders.values():
        run()
    times = {name: [] for name in contenders}
    for _ in range(runs):
        for name, run in contenders.items():
            times[name].append(run())
    return {name: Figure(values) for name, values in times.items()}


def compare(program, beside, limit):
    """The ratio cells and whether the target is met, judged on processor time (the machine may
    be shared: wall time then says more about the others than about the program)."""
    cpu, wall = program.cpu / beside.cpu, program.wall / beside.wall
    return ("%.2f x (wall %.2f x)" % (cpu, wall), "<= %.2f x" % limit,
            "yes" if cpu <= limit else "NO")


def rchar_of(program):
    """The rchar of one run of `program`, read from /proc/PID/io just before it exits: run under
    a tiny wrapper that waits for the child with waitid(WNOWAIT) so its io file is still there."""
    code = r"""
import os, sys
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1]])
os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
with open("/proc/%d/io" % pid) as f:
    fields = dict(line.split(": ") for line in f.read().splitlines())
os.waitpid(pid, 0)
print(fields["rchar"].strip())
"""
    return int(subprocess.run([sys.executable, "-c", code, program], check=True,
                              stdout=subprocess.PIPE, text=True).stdout.split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--dir", default=tempfile.gettempdir())
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--files", type=int, default=4)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--markdown")
    args = parser.parse_args()
    program = os.path.abspath(os.path.join(args.build, "updater.run"))
    hash_file = os.path.abspath(os.path.join(args.build, "bench", "hash_file"))
    work = tempfile.mkdtemp(prefix="kestario-pin-cost-", dir=args.dir)
    rows = []
    try:
        source = os.path.join(work, "source.bin")
        pin = make_noise(source, args.size_mb, 1)
        dgst = ["openssl", "dgst", "-sha256", source]

        # 1. Hashing.
        out = subprocess.run([hash_file, source], check=True, stdout=subprocess.PIPE,
                             text=True).stdout.split()[0]
        if out != pin:
            sys.exit("hash_file gives %s, not %s" % (out, pin))
        hashing = median_of(args.runs, {"program": lambda: timed([hash_file, source]),
                                        "openssl": lambda: timed(dgst)})
        rows.append(("SHA-256 of %d MiB" % args.size_mb, str(hashing["program"]),
                     "openssl dgst %s" % hashing["openssl"])
                    + compare(hashing["program"], hashing["openssl"], 1.10))

        # 2. Pinned COPY against unpinned COPY plus openssl dgst.
        pinned_dir, plain_dir = os.path.join(work, "pinned"), os.path.join(work, "plain")
        pinned, plain = program_in(pinned_dir, program), program_in(plain_dir, program)
        pinned_to, plain_to = os.path.join(pinned_dir, "copy.bin"), os.path.join(plain_dir,
                                                                                  "copy.bin")
        write_script(pinned_dir, [(source, pinned_to)], [pin])
        write_script(plain_dir, [(source, plain_to)], [])

        def copy_run(path, destination):
            def run():
                with open(destination, "wb") as f:
                    f.write(b"old")
                return timed([path], stdin=subprocess.DEVNULL)
            return run

        copies = median_of(args.runs, {"pinned": copy_run(pinned, pinned_to),
                                       "plain": copy_run(plain, plain_to),
                                       "openssl": lambda: timed(dgst)})
        budget = copies["plain"] + copies["openssl"]
        rows.append(("pinned COPY of %d MiB" % args.size_mb, str(copies["pinned"]),
                     "COPY %s + dgst %s = %s" % (copies["plain"], copies["openssl"], budget))
                    + compare(copies["pinned"], budget, 1.00))

        # 3. A rerun where every destination is current.
        size = max(1, args.size_mb // args.files)
        rerun_dir = os.path.join(work, "rerun")
        rerun = program_in(rerun_dir, program)
        share = os.path.join(work, "share")
        os.mkdir(share)
        pairs, pins, destinations = [], [], []
        for i in range(args.files):
            src = os.path.join(share, "payload%d.bin" % i)
            dst = os.path.join(rerun_dir, "payload%d.bin" % i)
            pins.append(make_noise(src, size, 10 + i))
            shutil.copyfile(src, dst)
            pairs.append((src, dst))
            destinations.append(dst)
        write_script(rerun_dir, pairs, pins)
        dgst_all = ["openssl", "dgst", "-sha256"] + destinations
        before = [os.stat(d).st_mtime_ns for d in destinations]
        reruns = median_of(args.runs, {"rerun": lambda: timed([rerun], stdin=subprocess.DEVNULL),
                                       "openssl": lambda: timed(dgst_all)})
        if [os.stat(d).st_mtime_ns for d in destinations] != before:
            sys.exit("the rerun changed a current destination")
        rows.append(("rerun, %d x %d MiB current" % (args.files, size), str(reruns["rerun"]),
                     "openssl dgst %s" % reruns["openssl"])
                    + compare(reruns["rerun"], reruns["openssl"], 1.10))
        read, opened = None, None
        if shutil.which("strace"):
            trace = subprocess.run(
                ["strace", "-f", "-y", "-e",
                 "trace=openat,open,read,pread64,readv,copy_file_range,sendfile", rerun],
                check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.PIPE, text=True).stderr
            read, opened = 0, 0
            for line in trace.splitlines():
                if share not in line:
                    continue
                if re.search(r"\bopen(at)?\(", line) and not re.search(r"= -1", line):
                    opened += 1
                result = re.search(r"= (\d+)\s*$", line)
                if result and re.search(r"\b(read|pread64|readv|copy_file_range|sendfile)\(",
                                        line):
                    read += int(result.group(1))
        rchar = rchar_of(rerun)
        rows.append(("rerun: source bytes read", str(read) if read is not None else "no strace",
                     "sources opened: %s" % opened, "rchar %d (%.0f MiB: the destinations)" % (
                         rchar, rchar / (1 << 20)), "0 bytes",
                     "yes" if read == 0 and opened == 0 else "NO"))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    load = os.getloadavg()[0]
    table = ["Load average %.1f on %d processors; medians of %d runs after a warm-up round."
             % (load, os.cpu_count(), args.runs), "",
             "| Figure | Program | Beside it | Ratio | Target | Met |", "|---|---|---|---|---|---|"]
    table += ["| " + " | ".join(row) + " |" for row in rows]
    text = "\n".join(table) + "\n"
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(text)
    return 0 if all(row[-1] == "yes" for row in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
