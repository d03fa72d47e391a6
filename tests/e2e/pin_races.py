#!/usr/bin/env python3
"""Pinned payloads against a second process that changes them while the run uses them.

usage: pin_races.py PROGRAM [CASE ...]

PROGRAM is the Linux program. A racing process keeps changing one file, in turn by a rename over
it (a new file under the name) and by writing other bytes into it in place (the same file), while
the program runs again and again:

  copy     a pinned COPY of an 8 MiB payload: after every run the destination holds its old bytes
           or exactly the pinned ones, never anything else; each run copied (exit code 0) or
           refused (message 12 or 8, exit code 1603 as Linux sees it: 67)
  launch   a pinned LAUNCH of a "#!" script that the racer swaps with another of the same length:
           only the pinned script ever runs (what the other writes never appears)

Prints one line per case, "ok" or what went wrong; exits 1 when a case failed.
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

RUNS = 40
PROGRAM = None


def racer(path, good, bad):
    """A process that changes `path` without end: a rename of a new file over it, then bytes
    written into it in place, each time alternating between `good` and `bad`."""
    code = r"""
import os, sys
path, good, bad = sys.argv[1], open(sys.argv[2], "rb").read(), open(sys.argv[3], "rb").read()
spare = path + ".racer"
n = 0
while True:
    data = bad if n % 2 == 0 else good
    if n % 4 < 2:
        with open(spare, "wb") as f:
            f.write(data)
        os.chmod(spare, 0o755)
        os.replace(spare, path)
    else:
        try:
            with open(path, "r+b") as f:
                f.write(data)
        except OSError:
            pass
    n += 1
"""
    folder = os.path.dirname(path)
    with open(os.path.join(folder, "good.bytes"), "wb") as f:
        f.write(good)
    with open(os.path.join(folder, "bad.bytes"), "wb") as f:
        f.write(bad)
    return subprocess.Popen([sys.executable, "-c", code, path, os.path.join(folder, "good.bytes"),
                             os.path.join(folder, "bad.bytes")])


def run(folder, script):
    program = os.path.join(folder, "updater.run")
    shutil.copy2(PROGRAM, program)
    with open(os.path.join(folder, "updater.ini"), "w") as f:
        f.write(script)
    result = subprocess.run([program], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, timeout=60)
    return result.returncode, result.stderr.decode("utf-8", "replace")


def case_copy(folder):
    good = bytes((i * 7 + 3) % 251 for i in range(8 << 20))
    bad = bytearray(good)
    bad[len(bad) // 2] ^= 0xFF
    bad = bytes(bad)
    source = os.path.join(folder, "payload")
    destination = os.path.join(folder, "installed")
    with open(source, "wb") as f:
        f.write(good)
    script = ("[UPDATER]\nNAME=Race\nPROC=C\nEXITCODE=1\n[C]\nMODE=COPY\nFROM=%s\nTO=%s\nHASH=%s\n"
              % (source, destination, hashlib.sha256(good).hexdigest()))
    old = b"old bytes"
    seen = {"copied": 0, "refused": 0}
    process = racer(source, good, bad)
    try:
        for _ in range(RUNS):
            with open(destination, "wb") as f:
                f.write(old)
            code, boxes = run(folder, script)
            with open(destination, "rb") as f:
                content = f.read()
            if content not in (old, good):
                return "the destination holds bytes that are neither the old nor the pinned ones"
            if code == 0 and content != good:
                return "a run that succeeded left the old bytes"
            if code != 0 and content != old:
                return "a refused run changed the destination"
            if code not in (0, 67):
                return "exit code %d: %s" % (code, boxes)
            seen["copied" if code == 0 else "refused"] += 1
    finally:
        process.kill()
        process.wait()
    leftovers = [n for n in os.listdir(folder) if n.startswith(".installed")]
    if leftovers:
        return "temporary files left: %s" % leftovers
    return "ok (%d copied, %d refused)" % (seen["copied"], seen["refused"])


def case_launch(folder):
    marks = os.path.join(folder, "marks")
    good = b"#!/bin/sh\necho pinned >> marks\n"
    bad = b"#!/bin/sh\necho OTHER! >> marks\n"
    assert len(good) == len(bad)
    program = os.path.join(folder, "tool")
    with open(program, "wb") as f:
        f.write(good)
    os.chmod(program, 0o755)
    script = ("[UPDATER]\nNAME=Race\nPROC=L\nEXITCODE=1\n[L]\nMODE=LAUNCH\nFILE=%s\nPARAM=\n"
              "ISWAIT=1\nHASH=%s\n" % (program, hashlib.sha256(good).hexdigest()))
    seen = {"started": 0, "refused": 0}
    process = racer(program, good, bad)
    try:
        for _ in range(RUNS):
            code, boxes = run(folder, script)
            if code not in (0, 67):
                return "exit code %d: %s" % (code, boxes)
            seen["started" if code == 0 else "refused"] += 1
    finally:
        process.kill()
        process.wait()
    try:
        with open(marks) as f:
            lines = f.read().split()
    except OSError:
        lines = []
    if any(line != "pinned" for line in lines):
        return "a program other than the pinned one ran"
    if len(lines) != seen["started"]:
        return "%d runs started the program, it ran %d times" % (seen["started"], len(lines))
    return "ok (%d started, %d refused)" % (seen["started"], seen["refused"])


CASES = {"copy": case_copy, "launch": case_launch}


def main():
    global PROGRAM
    PROGRAM = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or list(CASES)
    failed = False
    for name in names:
        folder = tempfile.mkdtemp(prefix="kestario-pin-race-")
        try:
            outcome = CASES[name](folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        print("%-8s %s" % (name, outcome))
        failed = failed or not outcome.startswith("ok")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
