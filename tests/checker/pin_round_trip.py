#!/usr/bin/env python3
"""updater-check --pin, then the program on what it printed.

usage: pin_round_trip.py PROGRAM CHECKER

A script with two COPY sections (one already holding an old, wrong HASH line, one without) and a
pinned LAUNCH of a "#!" script, written with CR LF line ends. `updater-check --pin` must print
the same script with a HASH line in each of those sections, every other line as it was; run as the
script, it must finish (exit code 0) with every file copied and the program started. A payload
changed afterwards must then be refused (exit code 1603, as Linux sees it: 67). A file that
cannot be read leaves its item empty, with a warning. Exits 1 on a failure.
"""

import os
import shutil
import subprocess
import sys
import tempfile

SCRIPT = ("[UPDATER]\r\nNAME=Pinned\r\nPROC=ONE, TWO, START\r\nEXITCODE=1\r\n"
          "; the payloads of the release\r\n"
          "[ONE]\r\nMODE=COPY\r\nFROM=<Src>/share/a.dat, <Src>/share/b.dat\r\n"
          "TO=<Src>/app/a.dat, <Src>/app/b.dat\r\nHASH=0000, \r\n"
          "[TWO]\r\nMODE=COPY\r\nFROM=<Src>/share/c.dat\r\nTO=<Src>/app/c.dat\r\n\r\n"
          "[START]\r\nMODE=LAUNCH\r\nFILE=<Src>/share/setup\r\nPARAM=\r\nISWAIT=1\r\n")


def fail(text):
    print("FAIL " + text)
    sys.exit(1)


def main():
    program, checker = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    folder = tempfile.mkdtemp(prefix="kestario-pin-")
    try:
        os.mkdir(os.path.join(folder, "share"))
        os.mkdir(os.path.join(folder, "app"))
        for name, data in (("a.dat", b"first"), ("b.dat", b"second"), ("c.dat", b"third")):
            with open(os.path.join(folder, "share", name), "wb") as f:
                f.write(data)
        setup = os.path.join(folder, "share", "setup")
        with open(setup, "wb") as f:
            f.write(b"#!/bin/sh\necho started > started\n")
        os.chmod(setup, 0o755)
        shutil.copy2(program, os.path.join(folder, "updater.run"))
        script = os.path.join(folder, "updater.ini")
        with open(script, "wb") as f:
            f.write(SCRIPT.encode())
        pinned = subprocess.run([checker, "--pin", script], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        if pinned.returncode != 0 or pinned.stderr:
            fail("--pin: exit code %d, %r" % (pinned.returncode, pinned.stderr))
        lines = pinned.stdout.split(b"\r\n")
        hashes = [line for line in lines if line.startswith(b"HASH=")]
        if len(hashes) != 3 or SCRIPT.replace("HASH=0000, \r\n", "").encode() != b"\r\n".join(
                line for line in lines if not line.startswith(b"HASH=")):
            fail("--pin changed more than the HASH lines:\n" + pinned.stdout.decode())
        with open(script, "wb") as f:
            f.write(pinned.stdout)
        run = subprocess.run([os.path.join(folder, "updater.run")], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if run.returncode != 0:
            fail("the pinned script: exit code %d, %s" % (run.returncode, run.stderr.decode()))
        for name in ("a.dat", "b.dat", "c.dat"):
            with open(os.path.join(folder, "share", name), "rb") as f, \
                    open(os.path.join(folder, "app", name), "rb") as g:
                if f.read() != g.read():
                    fail(name + " was not copied")
        if not os.path.exists(os.path.join(folder, "share", "started")):
            fail("the pinned program did not start")
        with open(os.path.join(folder, "share", "b.dat"), "wb") as f:
            f.write(b"changed")
        os.remove(os.path.join(folder, "app", "b.dat"))
        run = subprocess.run([os.path.join(folder, "updater.run")], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if run.returncode != 67 or os.path.exists(os.path.join(folder, "app", "b.dat")):
            fail("a changed payload: exit code %d, %s" % (run.returncode, run.stderr.decode()))
        os.remove(os.path.join(folder, "share", "c.dat"))
        pinned = subprocess.run([checker, "--pin", script], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        if b"HASH=\r\n" not in pinned.stdout or b"c.dat" not in pinned.stderr:
            fail("an unreadable file: %r %r" % (pinned.stdout, pinned.stderr))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
