#!/usr/bin/env python3
"""A rollback run killed at every change of its files, then run again.

usage: rollback_kill.py PROGRAM

PROGRAM is the Linux program as the end-to-end tests build it (it keeps its rollback journals
below its own folder). The script makes twelve changes with DELETE and COPY (new files, replaced
ones, a file of 9 MB that is copied in two parts, a file of another mode and an old date, a hard
link, a name deleted and copied again, a destination copied twice), then a last COPY of a file
that the test may take away.

First the script runs once to its end under strace, which counts the system calls that change
files. Then, for every such call, the program is killed with SIGKILL just before it (strace's
syscall injection), in a fresh folder, and run again:
  - with the last COPY's source taken away, so that the second run stops with message 8: every
    file must be as before the first run (bytes, size, modification time, mode, links), and
    nothing that a run kept may be left;
  - with everything in place, so that the second run finishes: every file must be as after a run
    that was never killed, again with nothing kept left behind.
Then the same for the recovery of a killed run by a run of another script of the account: the
first script's run is killed just before its end is recorded (and once half-way), and a run of a
second script ("other.run", which copies one file of its own) undoes it at its start; that run is
killed at every changing system call of its own in turn, and then runs again: the first script's
tree must be as before its run, the second's as after its copy.
A flush (fsync, fdatasync) is not killed at: it changes nothing that a killed process leaves, so
the kill before it is the kill after the call before. The trees are made in /dev/shm when there is
one. Prints one line per system call with how many kills it took, then the totals. Exit 77
(skipped) when strace is missing or cannot trace here.
"""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

# The system calls that change files (the journal's, the copies', the renames and removals).
CHANGING = ("write", "pwrite64", "fsync", "fdatasync", "ftruncate", "copy_file_range", "ioctl",
            "linkat", "link", "renameat2", "renameat", "rename", "unlink", "unlinkat", "fchmod",
            "fchown", "utimensat", "fsetxattr", "mkdir")
# A flush changes no file that a killed process leaves: a kill just before one is a kill just
# after the call before it.
NOT_KILLED_AT = ("fsync", "fdatasync")

def procedure(name, mode, **keys):
    """One section of a script: its MODE, then its keys in the order given."""
    return "[%s]\nMODE=%s\n%s" % (name, mode, "".join("%s=%s\n" % kv for kv in keys.items()))


def copy(name, source, target):
    return procedure(name, "COPY", FROM=source, TO=target)


SCRIPT = """[UPDATER]
NAME=Kill test
PROC=GONE, NEWEXE, BIGDATA, MODES, LINKED, LIBS, ONCE, AGAIN, TWICE, TWICE2, DROP, LAST
ROLLBACK=1
[DEFINE]
<App>=<Src>/app
<New>=<Src>/new
""" + "".join([
    procedure("GONE", "DELETE", FILE="<App>/old1.dll, <App>/old2.dll"),
    copy("NEWEXE", "<New>/tool.exe", "<App>/tool.exe"),
    copy("BIGDATA", "<New>/big.dat", "<App>/big.dat"),
    copy("MODES", "<New>/conf.ini", "<App>/conf.ini"),
    copy("LINKED", "<New>/shared.dat", "<App>/shared.dat"),
    copy("LIBS", "<New>/a.dll, <New>/b.dll", "<App>/a.dll, <App>/b.dll"),
    procedure("ONCE", "DELETE", FILE="<App>/readme.txt"),
    copy("AGAIN", "<New>/readme.txt", "<App>/readme.txt"),
    copy("TWICE", "<New>/first.txt", "<App>/twice.txt"),
    copy("TWICE2", "<New>/second.txt", "<App>/twice.txt"),
    procedure("DROP", "DELETE", FILE="<App>/a.dll"),
    copy("LAST", "<New>/last.txt", "<App>/last.txt"),
])

OTHER_SCRIPT = """[UPDATER]
NAME=Other
PROC=OTHER
ROLLBACK=1
""" + copy("OTHER", "<Src>/other/in.txt", "<Src>/other/out.txt")


OLD_TIME = 978307200  # 2001-01-01


def lay_out_other(folder, program):
    """A second script beside the first, with its own program link and the file it copies."""
    os.link(program, os.path.join(folder, "other.run"))
    with open(os.path.join(folder, "other.ini"), "w") as f:
        f.write(OTHER_SCRIPT)
    os.mkdir(os.path.join(folder, "other"))
    with open(os.path.join(folder, "other", "in.txt"), "wb") as f:
        f.write(b"other\n")
    os.utime(os.path.join(folder, "other", "in.txt"), (OLD_TIME, OLD_TIME))


def lay_out(folder, program):
    """The program (a link to one copy of it), its script and the tree it works on."""
    os.link(program, os.path.join(folder, "updater.run"))
    with open(os.path.join(folder, "updater.ini"), "w") as f:
        f.write(SCRIPT)
    app = os.path.join(folder, "app")
    new = os.path.join(folder, "new")
    os.mkdir(app)
    os.mkdir(new)

    def put(path, data, mode=0o644, mtime=None):
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        if mtime is not None:
            os.utime(path, (mtime, mtime))

    put(os.path.join(app, "old1.dll"), b"old one\n", 0o755, OLD_TIME)
    put(os.path.join(app, "old2.dll"), b"old two\n", 0o600, OLD_TIME + 60)
    put(os.path.join(app, "big.dat"), b"small old data\n", 0o644, OLD_TIME + 120)
    put(os.path.join(app, "conf.ini"), b"[old]\n", 0o640, OLD_TIME + 180)
    put(os.path.join(app, "shared.dat"), b"shared old\n", 0o644, OLD_TIME + 240)
    os.link(os.path.join(app, "shared.dat"), os.path.join(app, "shared-link.dat"))
    put(os.path.join(app, "a.dll"), b"a old\n", 0o644, OLD_TIME + 300)
    put(os.path.join(app, "readme.txt"), b"read me, old\n", 0o444, OLD_TIME + 360)
    put(os.path.join(app, "twice.txt"), b"twice, old\n", 0o644, OLD_TIME + 420)
    put(os.path.join(new, "tool.exe"), b"tool\n" * 1000, 0o755, OLD_TIME + 1000)
    put(os.path.join(new, "big.dat"), bytes(range(256)) * (9 * 4096), 0o644, OLD_TIME + 1100)
    put(os.path.join(new, "conf.ini"), b"[new]\n", 0o644, OLD_TIME + 1200)
    put(os.path.join(new, "shared.dat"), b"shared new\n", 0o644, OLD_TIME + 1300)
    put(os.path.join(new, "a.dll"), b"a new\n", 0o644, OLD_TIME + 1400)
    put(os.path.join(new, "b.dll"), b"b new\n", 0o644, OLD_TIME + 1500)
    put(os.path.join(new, "readme.txt"), b"read me, new\n", 0o644, OLD_TIME + 1600)
    put(os.path.join(new, "first.txt"), b"first\n", 0o644, OLD_TIME + 1700)
    put(os.path.join(new, "second.txt"), b"second\n", 0o644, OLD_TIME + 1800)
    put(os.path.join(new, "last.txt"), b"last\n", 0o644, OLD_TIME + 1900)


def snapshot(folder):
    """Every file and folder below `folder` but the program's own: type, bytes, size, time, mode
    and which files are one (hard links)."""
    state = {}
    inodes = {}
    for root, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith("kestario-rollback-")]
        for name in dirs + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if relative in ("updater.run", "updater.ini", "other.run", "other.ini"):
                continue
            info = os.lstat(path)
            if stat.S_ISDIR(info.st_mode):
                state[relative] = ("folder", stat.S_IMODE(info.st_mode))
                continue
            with open(path, "rb") as f:
                data = f.read()
            inodes.setdefault(info.st_ino, []).append(relative)
            state[relative] = ("file", data, info.st_size, info.st_mtime_ns,
                               stat.S_IMODE(info.st_mode), info.st_ino)
    # Which names are one file: the file's names, whatever its inode number.
    for relative, entry in state.items():
        if entry[0] == "file":
            state[relative] = entry[:5] + (tuple(sorted(inodes[entry[5]])),)
    return state


def differences(expected, actual):
    problems = []
    for path in sorted(set(expected) | set(actual)):
        if path not in actual:
            problems.append("missing " + path)
        elif path not in expected:
            problems.append("left behind " + path)
        elif expected[path] != actual[path]:
            what = ("type", "bytes", "size", "time", "mode", "links")
            changed = [what[i] for i in range(len(what))
                       if i < len(expected[path]) and expected[path][i] != actual[path][i]]
            problems.append("%s differs in %s" % (path, ", ".join(changed)))
    return problems


# A sanitizer build's leak check does not work under ptrace, and a killed run cannot be checked.
ENVIRONMENT = dict(os.environ, ASAN_OPTIONS=":".join(
    filter(None, [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0"])))


def run(folder, strace_args=(), program="updater.run"):
    command = list(strace_args) + [os.path.join(folder, program)]
    return subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, env=ENVIRONMENT,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)


def run_killed(folder, call, n, program="updater.run"):
    """A run of `program` killed (SIGKILL) just before its n-th system call `call`."""
    return run(folder, ["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                        "inject=%s:signal=KILL:when=%d" % (call, n)], program)


def traced_run(folder, trace, program="updater.run"):
    """A run of `program` under strace, writing the trace to the file `trace` (removed after);
    returns the run's result and its changing system calls in order, each as (name, arguments)."""
    result = run(folder, ["strace", "-f", "-qq", "-s", "64", "-o", trace, "-e",
                          "trace=" + ",".join(CHANGING)], program)
    calls = []
    if os.path.exists(trace):
        with open(trace) as f:
            for line in f:
                m = re.match(r"^(?:\d+\s+)?(\w+)\((.*)", line)
                if m and m.group(1) in CHANGING:
                    calls.append((m.group(1), m.group(2)))
        os.unlink(trace)
    return result, calls


def counted(calls):
    """How many times each system call comes in `calls` (names)."""
    counts = {}
    for call in calls:
        counts[call] = counts.get(call, 0) + 1
    return counts


def new_tree(base, name, program, other=False):
    """A fresh folder below `base` laid out for the first script (and the other one)."""
    folder = os.path.join(base, name)
    os.mkdir(folder)
    lay_out(folder, program)
    if other:
        lay_out_other(folder, program)
    return folder


def trace_calls(folder):
    """The changing system calls of a run to its end, in order, and the position of the write
    that records the run's end in its journal (from there on the run has finished: what it kept
    goes, nothing is put back)."""
    result, traced = traced_run(folder, os.path.join(folder, "trace"))
    if result.returncode != 0 or result.stderr:
        raise SystemExit("the full run failed: %r" % result.stderr[-500:])
    # The end record: a body of the one byte "E" after the 8 bytes of its header.
    end = next((i for i, (call, arguments) in enumerate(traced)
                if call == "pwrite64" and re.search(r'E", 9, \d+\)', arguments)), None)
    if end is None:
        raise SystemExit("the run's end record was not found in the trace")
    return [call for call, _ in traced], end


def kill_recoveries(base, program, calls, end, before, failures):
    """Kills a run of the other script at each changing call while it recovers a killed run of
    the first; returns the number of kills."""
    kills = 0
    # The first run killed just before its end is recorded (every change made), and half-way.
    for first_at in (end, end // 2):
        call = calls[first_at]
        n = calls[:first_at + 1].count(call)
        probe = new_tree(base, "recovery-probe-%d" % first_at, program, other=True)
        run_killed(probe, call, n)
        result, traced = traced_run(probe, os.path.join(base, "recovery-trace"), "other.run")
        if result.returncode != 0 or "ERROR" in result.stderr.decode("utf-8", "replace"):
            failures.append("recovery after %s #%d: the other script's run failed" % (call, n))
            continue
        finished_other = snapshot(probe)
        counts = counted(c for c, _ in traced if c not in NOT_KILLED_AT)
        shutil.rmtree(probe)
        expected = {k: v for k, v in finished_other.items()
                    if k.startswith("other") or k in before}
        if {k: v for k, v in finished_other.items() if not k.startswith("other")} != before:
            failures.append("recovery after %s #%d: the killed run was not undone" % (call, n))
        for other_call in sorted(counts):
            for m in range(1, counts[other_call] + 1):
                folder = new_tree(base, "recovery-%d-%s-%d" % (first_at, other_call, m), program,
                                  other=True)
                run_killed(folder, call, n)
                killed = run_killed(folder, other_call, m, "other.run")
                if killed.returncode not in (-9, 137):
                    failures.append("recovery %s #%d: not killed" % (other_call, m))
                    shutil.rmtree(folder)
                    continue
                kills += 1
                again = run(folder, (), "other.run")
                if "ERROR" in again.stderr.decode("utf-8", "replace"):
                    failures.append("recovery %s #%d: the run after it stopped" % (other_call, m))
                for problem in differences(expected, snapshot(folder)):
                    failures.append("recovery after %s #%d killed at %s #%d: %s" %
                                    (call, n, other_call, m, problem))
                shutil.rmtree(folder)
        print("recovery of the run killed at %s #%d by another script: %d kills" %
              (call, n, sum(counts.values())))
    return kills


def main():
    if shutil.which("strace") is None:
        print("strace is missing: skipped")
        return 77
    # In memory where there is a tmpfs: hundreds of trees are made and removed.
    memory = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    base = tempfile.mkdtemp(prefix="kestario-kill-", dir=memory)
    program = os.path.join(base, "updater.run")
    shutil.copy2(sys.argv[1], program)
    started = time.monotonic()
    try:
        folder = new_tree(base, "probe", program)
        before = snapshot(folder)
        probe = subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "true"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if probe.returncode != 0:
            print("strace cannot trace here: skipped")
            return 77
        calls, end = trace_calls(folder)
        counts = counted(calls)
        # (call, n) -> where in the run it comes
        position = {(call, calls[:index + 1].count(call)): index
                    for index, call in enumerate(calls)}
        finished = snapshot(folder)
        kept = [p for p in finished if ".kestario-" in p]
        if kept or finished == before:
            print("the full run left %s" % kept)
            return 1
        failures = []
        kills = 0
        for call in sorted(counts):
            if call in NOT_KILLED_AT:
                continue
            for n in range(1, counts[call] + 1):
                for finish in (False, True):
                    folder = new_tree(base, "%s-%d-%d" % (call, n, finish), program)
                    killed = run_killed(folder, call, n)
                    if killed.returncode not in (-9, 137):
                        failures.append("%s #%d: not killed (exit %d)" %
                                        (call, n, killed.returncode))
                        shutil.rmtree(folder)
                        continue
                    kills += 1
                    if not finish:
                        os.unlink(os.path.join(folder, "new", "last.txt"))
                    again = run(folder)
                    stopped = "ERROR" in again.stderr.decode("utf-8", "replace")
                    # Killed after its end was recorded, the first run had finished; the second
                    # then stops at once (its files are gone) and undoes only its own changes.
                    ended = position[(call, n)] > end
                    if not stopped and (not finish or ended):
                        failures.append("%s #%d: the second run finished" % (call, n))
                    if stopped and finish and not ended:
                        failures.append("%s #%d: the second run stopped" % (call, n))
                    expected = finished if finish or ended else dict(before)
                    actual = snapshot(folder)
                    if not finish:
                        expected = dict(expected)
                        expected.pop(os.path.join("new", "last.txt"))
                    for problem in differences(expected, actual):
                        failures.append("%s #%d, second run %s: %s" %
                                        (call, n, "finishing" if finish else "stopping", problem))
                    shutil.rmtree(folder)
            print("%-16s %3d kills" % (call, counts[call] * 2))
        recovery_kills = kill_recoveries(base, program, calls, end, before, failures)
        kills += recovery_kills
        print("(not killed at %s: %d calls)" %
              (", ".join(NOT_KILLED_AT), sum(counts.get(c, 0) for c in NOT_KILLED_AT)))
        print("%d kills at %d changing system calls, %.1f s; trees equal: %s" %
              (kills, sum(counts.values()), time.monotonic() - started,
               "all" if not failures else "%d differences" % len(failures)))
        for failure in failures[:40]:
            print("FAIL " + failure)
        return 1 if failures else 0
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
