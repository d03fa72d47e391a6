#!/usr/bin/env python3
"""Rollback runs that a careless administrator, a hostile user and a killed process meet.

usage: rollback_attacks.py PROGRAM [CASE ...]

PROGRAM is the Linux program as the end-to-end tests build it (it keeps its rollback journals
below its own folder). Each case lays out a fresh folder, kills a rollback run at its question
(SIGKILL while the box waits), does what the case does, and runs again:

  swapped-kept   (root, with the user nobody) the user replaces the kept old file with their own
                 and makes the replaced file a link to a root-only file: the undo must leave the
                 root-only file alone (message 11, the kept file left for the administrator)
  swapped-folder (root, with the user nobody, strace) the run made a file in a folder below one
                 that the user owns; while the next run's undo is about to remove it (held there
                 by strace), the user moves that folder away and puts a link to a root-only
                 folder holding a root-only file of the same name under its name: the undo must
                 act in the folder the run changed and leave the root-only file alone
  flipped-bit    one bit of the killed run's journal flipped; the next run must go on (no
  cut-journal    message 10), undo what the good records say, report the journal and set it aside,
                 and list every file the killed run kept that the good records do not name (found
                 by the run's id); the same for a journal cut short at a record's end, which no
                 checksum can see; a third run must meet a clean journal
  stale-undo     a run without ROLLBACK installs version 2 after the killed run: the next rollback
                 run that stops must not put back the file from before the killed run
  live-run       a run of another script while a rollback run waits at its question: the
                 waiting run is alive (it holds its journal's lock) and is not undone
  renamed-folder the killed run's folder is renamed: the next run, from the new folder, still
                 undoes it
  other-fs-link  COPY onto a link to a file on another file system (/dev/shm), with ROLLBACK:
                 copied when the run finishes, put back when it stops, nothing kept left over

Prints one line per case, "ok" or what went wrong; exits 1 when a case failed, 77 when none could
run here.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

ENVIRONMENT = dict(os.environ, ASAN_OPTIONS=":".join(
    filter(None, [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0"])))

PROGRAM = None


def write(path, data, mode=0o644):
    with open(path, "w") as f:
        f.write(data)
    os.chmod(path, mode)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


def lay_out(folder, name, script):
    """The program as `name`.run beside its script `name`.ini."""
    shutil.copy2(PROGRAM, os.path.join(folder, name + ".run"))
    write(os.path.join(folder, name + ".ini"), script)


def run(folder, name, answers=""):
    """Runs to its end; returns standard error (the boxes)."""
    result = subprocess.run([os.path.join(folder, name + ".run")], cwd=folder, env=ENVIRONMENT,
                            input=answers.encode(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, timeout=60)
    return result.stderr.decode("utf-8", "replace")


def kill_at_box(folder, name):
    """Runs until its first box waits for an answer, then kills it (SIGKILL)."""
    process = start_until_box(folder, name)
    process.kill()
    process.wait()


def start_until_box(folder, name):
    """Starts a run and returns it once its first box waits for an answer."""
    process = subprocess.Popen([os.path.join(folder, name + ".run")], cwd=folder,
                               env=ENVIRONMENT, stdin=subprocess.PIPE,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    os.set_blocking(process.stderr.fileno(), False)
    seen = b""
    deadline = time.monotonic() + 30
    while b"Go on?" not in seen and time.monotonic() < deadline:
        time.sleep(0.05)
        chunk = process.stderr.read()
        if chunk:
            seen += chunk
        if process.poll() is not None:
            break
    if b"Go on?" not in seen:
        process.kill()
        process.wait()
        raise RuntimeError("the run did not reach its question: %r" % seen[-300:])
    return process


def journals(folder):
    return glob.glob(os.path.join(folder, "kestario-rollback-*", "*"))


def kept_names(folder):
    return sorted(glob.glob(os.path.join(folder, ".kestario-*")))


def script(*procedures, rollback=1, ask=True):
    """A script of COPY (FROM, TO) and DELETE (PATH) steps, then the question when `ask`."""
    names = []
    sections = []
    for i, step in enumerate(procedures):
        name = "STEP%d" % i
        names.append(name)
        if len(step) == 2:
            sections.append("[%s]\nMODE=COPY\nFROM=%s\nTO=%s\n" % (name, step[0], step[1]))
        else:
            sections.append("[%s]\nMODE=DELETE\nFILE=%s\n" % (name, step[0]))
    if ask:
        names.append("ASK")
        sections.append("[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go on?\nISABORT=0, 1\n")
    return ("[UPDATER]\nNAME=Attack\nPROC=%s\nROLLBACK=%d\nLOG=<Src>/run.log\n" %
            (", ".join(names), rollback)) + "".join(sections)


def case_swapped_kept(folder):
    if os.geteuid() != 0:
        return "skipped: needs root"
    shared = os.path.join(folder, "shared")
    secret = os.path.join(folder, "secret")
    os.mkdir(shared)
    os.mkdir(os.path.join(folder, "new"))
    os.mkdir(secret, 0o700)
    write(os.path.join(shared, "conf"), "old conf\n")
    write(os.path.join(folder, "new", "conf"), "new conf\n")
    write(os.path.join(secret, "file"), "root only\n", 0o600)
    os.chown(shared, 65534, 65534)
    lay_out(folder, "updater", script(("<Src>/new/conf", "<Src>/shared/conf")))
    kill_at_box(folder, "updater")
    kept = kept_names(shared)
    if len(kept) != 1:
        return "the killed run kept %r" % kept
    hostile = ("rm -f '{k}' && echo mine > '{k}' && rm -f '{s}/conf' && ln -s '{f}' '{s}/conf'"
               .format(k=kept[0], s=shared, f=os.path.join(secret, "file")))
    subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c",
                    hostile], check=True)
    boxes = run(folder, "updater")
    info = os.stat(os.path.join(secret, "file"))
    problems = []
    if read(os.path.join(secret, "file")) != "root only\n" or info.st_uid != 0:
        problems.append("the root-only file was replaced (now %r, owner %d)" %
                        (read(os.path.join(secret, "file")), info.st_uid))
    if not os.path.islink(os.path.join(shared, "conf")):
        problems.append("the planted link was replaced")
    if read(kept[0]) != "mine\n":
        problems.append("the user's file under the kept name is gone")
    if "could not be undone" not in boxes and "元に戻せません" not in boxes:
        problems.append("no message 11")
    return "; ".join(problems) or "ok"


def case_swapped_folder(folder):
    if os.geteuid() != 0:
        return "skipped: needs root"
    if shutil.which("strace") is None or subprocess.run(
            ["strace", "-f", "-qq", "-o", "/dev/null", "true"]).returncode != 0:
        return "skipped: strace cannot trace here"
    shared = os.path.join(folder, "shared")
    app = os.path.join(shared, "app")
    secret = os.path.join(folder, "secret")
    tree(folder, {"shared/app/readme": "app\n", "new/conf": "new conf\n", "new/x": "x\n"})
    os.mkdir(secret, 0o700)
    write(os.path.join(secret, "conf"), "root only\n", 0o600)
    os.chown(shared, 65534, 65534)
    lay_out(folder, "updater", script(("<Src>/new/conf", "<Src>/shared/app/conf")))
    kill_at_box(folder, "updater")
    if read(os.path.join(app, "conf")) != "new conf\n":
        return "the killed run did not make the file"
    # Another script of the account recovers the killed run; its undo's calls on the made file's
    # path wait three seconds, and the swap comes during that wait.
    os.mkdir(os.path.join(folder, "out"))
    lay_out(folder, "other", script(("<Src>/new/x", "<Src>/out/x"), ask=False))
    target = os.path.join(app, "conf")
    recovery = subprocess.Popen(
        ["strace", "-f", "-qq", "-o", "/dev/null", "-P", target, "-e",
         "inject=unlink,unlinkat,rename,renameat,renameat2:delay_enter=3000000",
         os.path.join(folder, "other.run")], cwd=folder, env=ENVIRONMENT,
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    while "did not end" not in (read(os.path.join(folder, "run.log")) or ""):
        if time.monotonic() > deadline or recovery.poll() is not None:
            break
        time.sleep(0.02)
    time.sleep(1)
    hostile = "mv '{a}' '{a}.moved' && ln -s '{s}' '{a}'".format(a=app, s=secret)
    subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c",
                    hostile], check=True)
    recovery.communicate(timeout=60)
    problems = []
    info = os.stat(os.path.join(secret, "conf"))
    if read(os.path.join(secret, "conf")) != "root only\n" or info.st_uid != 0:
        problems.append("the root-only file was removed or replaced")
    if not os.path.islink(app):
        problems.append("the planted link was replaced")
    if os.path.exists(os.path.join(app + ".moved", "conf")):
        problems.append("the made file was not removed from the folder the run changed")
    if kept_names(app + ".moved"):
        problems.append("kept names left: %r" % kept_names(app + ".moved"))
    return "; ".join(problems) or "ok"


def damaged_case(folder, damage):
    app = os.path.join(folder, "app")
    new = os.path.join(folder, "new")
    os.mkdir(app)
    os.mkdir(new)
    for name in ("a", "b", "c"):
        write(os.path.join(app, name + ".txt"), name + "0\n")
        write(os.path.join(new, name + ".txt"), name + "1\n")
    write(os.path.join(app, "gone.dll"), "old library\n")
    lay_out(folder, "updater", script(("<Src>/app/gone.dll",),
                                      ("<Src>/new/a.txt", "<Src>/app/a.txt"),
                                      ("<Src>/new/b.txt", "<Src>/app/b.txt"),
                                      ("<Src>/new/c.txt", "<Src>/app/c.txt")))
    kill_at_box(folder, "updater")
    journal = [j for j in journals(folder) if j.endswith(".journal")]
    if len(journal) != 1:
        return "no journal: %r" % journals(folder)
    with open(journal[0], "r+b") as f:
        data = bytearray(f.read())
        if damage == "flip":
            data[len(data) // 2] ^= 0x10
        else:
            data = data[:len(data) * 2 // 3]
        f.seek(0)
        f.truncate()
        f.write(data)
    problems = []
    second = run(folder, "updater", "y\n")
    if "ERROR" in second:
        problems.append("the next run stopped: %s" % second.strip().splitlines()[-3:])
    log = read(os.path.join(folder, "run.log")) or ""
    told = "is damaged" if damage == "flip" else "is cut short"
    if told not in log:
        problems.append("the log does not tell of the damaged journal")
    if not glob.glob(os.path.join(folder, "kestario-rollback-*", "*.damaged")):
        problems.append("the journal was not set aside")
    # The journal was set aside: a third run meets a clean one (its DELETE then fails: the file
    # is gone, as the second run left it).
    run(folder, "updater", "y\n")
    log = read(os.path.join(folder, "run.log")) or ""
    if log.count(told) > 1 or log.count("did not end") > 1:
        problems.append("a third run met the damaged journal again")
    for name in ("a", "b", "c"):
        if read(os.path.join(app, name + ".txt")) != name + "1\n":
            problems.append("%s.txt is not the new one" % name)
    if os.path.exists(os.path.join(app, "gone.dll")):
        problems.append("gone.dll is there")
    left = kept_names(app)
    unlisted = [k for k in left if '"%s", kept by that run, stays for the administrator' % k
                not in log]
    if unlisted:
        problems.append("kept files left are not listed in the log: %r" % unlisted)
    return "; ".join(problems) or "ok (kept files left for the administrator: %d)" % len(left)


def case_flipped_bit(folder):
    return damaged_case(folder, "flip")


def case_cut_journal(folder):
    return damaged_case(folder, "cut")


def tree(folder, files):
    """Makes the files (relative path -> text) and their folders."""
    for relative, text in files.items():
        path = os.path.join(folder, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, text)


def case_stale_undo(folder):
    app = os.path.join(folder, "app")
    tree(folder, {"app/a.txt": "version 0\n", "new/a1.txt": "version 1\n",
                  "new/a2.txt": "version 2, longer\n"})
    lay_out(folder, "updater", script(("<Src>/new/a1.txt", "<Src>/app/a.txt")))
    kill_at_box(folder, "updater")
    lay_out(folder, "plain", script(("<Src>/new/a2.txt", "<Src>/app/a.txt"), rollback=0,
                                    ask=False))
    if "ERROR" in run(folder, "plain"):
        return "the run without ROLLBACK failed"
    run(folder, "updater", "n\n")
    now = read(os.path.join(app, "a.txt"))
    if now != "version 2, longer\n":
        return "version 2 is gone: a.txt holds %r" % now
    return "ok (the old file stays for the administrator: %d kept)" % len(kept_names(app))


def case_live_run(folder):
    app = os.path.join(folder, "app")
    tree(folder, {"app/a.txt": "version 0\n", "new/a1.txt": "version 1\n",
                  "new/b.txt": "b\n"})
    lay_out(folder, "updater", script(("<Src>/new/a1.txt", "<Src>/app/a.txt")))
    lay_out(folder, "other", script(("<Src>/new/b.txt", "<Src>/app/b.txt"), ask=False))
    waiting = start_until_box(folder, "updater")
    problems = []
    try:
        if "ERROR" in run(folder, "other"):
            problems.append("the other script's run failed")
        if read(os.path.join(app, "a.txt")) != "version 1\n":
            problems.append("the other script's run undid the live run")
    finally:
        waiting.stdin.close()  # no answer: No, and the live run undoes its own change
        waiting.wait(timeout=60)
    if read(os.path.join(app, "a.txt")) != "version 0\n":
        problems.append("the live run did not undo its own change")
    if read(os.path.join(app, "b.txt")) != "b\n":
        problems.append("the other script's copy is gone")
    return "; ".join(problems) or "ok"


def case_renamed_folder(folder):
    app = os.path.join(folder, "app")
    deploy = os.path.join(folder, "deploy1")
    tree(folder, {"app/a.txt": "version 0\n", "deploy1/a1.txt": "version 1\n"})
    lay_out(deploy, "updater", script(("<Src>/a1.txt", app + "/a.txt")))
    kill_at_box(deploy, "updater")
    moved = os.path.join(folder, "deploy2")
    os.rename(deploy, moved)
    boxes = run(moved, "updater", "n\n")
    problems = []
    if read(os.path.join(app, "a.txt")) != "version 0\n":
        problems.append("a.txt was not put back: %r" % read(os.path.join(app, "a.txt")))
    if kept_names(app):
        problems.append("kept files left: %r" % kept_names(app))
    if "ERROR" in boxes:
        problems.append("the run stopped with an error")
    return "; ".join(problems) or "ok"


def case_other_fs_link(folder):
    if not os.access("/dev/shm", os.W_OK):
        return "skipped: no /dev/shm"
    elsewhere = tempfile.mkdtemp(prefix="kestario-attack-", dir="/dev/shm")
    try:
        if os.stat(elsewhere).st_dev == os.stat(folder).st_dev:
            return "skipped: /dev/shm is on the same file system"
        app = os.path.join(folder, "app")
        os.mkdir(app)
        write(os.path.join(elsewhere, "conf"), "old\n")
        write(os.path.join(folder, "conf.new"), "new\n")
        os.symlink(os.path.join(elsewhere, "conf"), os.path.join(app, "conf"))
        lay_out(folder, "updater", script(("<Src>/conf.new", "<Src>/app/conf")))
        problems = []
        stopped = run(folder, "updater", "n\n")
        if "ERROR" in stopped:
            problems.append("the stopped run failed: %s" % stopped.strip().splitlines()[:3])
        if read(os.path.join(elsewhere, "conf")) != "old\n":
            problems.append("the stopped run did not put the old file back")
        finished = run(folder, "updater", "y\n")
        if "ERROR" in finished:
            problems.append("the finished run failed: %s" % finished.strip().splitlines()[:3])
        if read(os.path.join(elsewhere, "conf")) != "new\n":
            problems.append("the finished run did not copy")
        if not os.path.islink(os.path.join(app, "conf")):
            problems.append("the link was replaced")
        if kept_names(elsewhere) or kept_names(app):
            problems.append("kept files left: %r" % (kept_names(elsewhere) + kept_names(app)))
        return "; ".join(problems) or "ok"
    finally:
        shutil.rmtree(elsewhere, ignore_errors=True)


CASES = [("swapped-kept", case_swapped_kept), ("swapped-folder", case_swapped_folder),
         ("flipped-bit", case_flipped_bit),
         ("cut-journal", case_cut_journal), ("stale-undo", case_stale_undo),
         ("live-run", case_live_run), ("renamed-folder", case_renamed_folder), ("other-fs-link", case_other_fs_link)]


def main():
    global PROGRAM
    PROGRAM = os.path.abspath(sys.argv[1])
    wanted = sys.argv[2:]
    failed = 0
    ran = 0
    for name, case in CASES:
        if wanted and name not in wanted:
            continue
        folder = tempfile.mkdtemp(prefix="kestario-attack-", dir="/var/tmp")
        os.chmod(folder, 0o755)
        try:
            outcome = case(folder)
        except (RuntimeError, subprocess.SubprocessError, OSError) as error:
            outcome = "error: %s" % error
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        print("%-15s %s" % (name, outcome))
        if not outcome.startswith("skipped"):
            ran += 1
            failed += not outcome.startswith("ok")
    return 1 if failed else (0 if ran else 77)


if __name__ == "__main__":
    sys.exit(main())
