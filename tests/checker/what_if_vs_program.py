#!/usr/bin/env python3
"""Prediction equals reality: updater-check --what-if against the real program, scenario by scenario.

usage: what_if_vs_program.py PROGRAM REGISTRY_PROGRAM CHECKER SCENARIO_FOLDER [NAME ...]

Each end-to-end scenario is laid out twice, in two fresh temporary folders. The real program runs
in the first with the scenario's answers on its standard input; `CHECKER --what-if --json` runs on
the second's updater.ini with the same answers given by section (--answer SECTION=yes|no|ok, and
--answers-default no for a box the input leaves unanswered, as end of input answers it). Then:

- the boxes, in order (kind, caption, text), are the same;
- the outcome is the same: the predicted run stops with message N exactly when the program's last
  box is that error box;
- the files deleted, created and replaced (a replaced file is one whose inode, size, time or bytes
  changed) are the same, as paths relative to each folder;
- the exit code is the one predicted (its low 8 bits, which is what Linux hands on).

A scenario whose terminal cannot show boxes (a broken pipe, or standard error closed) is predicted with --unseen: the
program shows no box, every predicted box is marked as not shown, and the files and the exit code
must agree. A scenario with an event runs the program with a syslog socket of its own
(run_linux.PrivateSyslog), so that the system's log never gets it.

The answers are found as the terminal would take them: an OK box (an error box too) takes one
line, a Yes/No box takes lines until one starts with y or n, and end of input answers No. Each box
of the prediction so far names its section, which receives the answer that the box takes; the
prediction is made again until every box's answer is the one given.

A scenario that runs as another user ("user") is predicted and run as that user, and left out
when this runner cannot become it. The scenario's setup and cleanup run in both folders. A
scenario that says its run cannot be foreseen ("=== what-if" "uncertain") is not compared: the
prediction must mark a step uncertain instead.

A scenario is left out, with its reason, when it does not run on Linux, needs a user whom file
permissions bind (as root), cannot be set up here (its setup needs root, or failed), sets a
resource limit, is stopped by a signal from outside, has no readable script (--what-if must then
exit with 2, which is checked), answers one MSGBOX differently at different times, has an event where no private syslog socket
can be made (not root), or starts a program whose effects a later step depends on (a step marked
uncertain). For a scenario that starts a program whose effects nothing depends on, the files below
that program's folder are left out of the comparison.

Prints one line per scenario, then "N compared, N differ, N excluded"; exits with 1 when any
compared scenario differs or none was compared.
"""

import hashlib
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import scenario as sc  # noqa: E402
import run_linux  # noqa: E402


def snapshot(folder):
    """relative path -> (kind, inode, size, mtime, digest) for everything below `folder`."""
    entries = {}
    for root, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith("kestario-rollback-")]  # the journals
        for name in dirs + files:
            path = os.path.join(root, name)
            info = os.lstat(path)
            digest = ""
            if stat.S_ISREG(info.st_mode) and os.access(path, os.R_OK):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            entries[os.path.relpath(path, folder)] = (stat.S_IFMT(info.st_mode), info.st_ino,
                                                      info.st_size, info.st_mtime_ns, digest)
    return entries


def changes(before, after):
    deleted = sorted(set(before) - set(after))
    created = sorted(set(after) - set(before))
    replaced = sorted(p for p in set(before) & set(after) if before[p] != after[p]
                      and not stat.S_ISDIR(after[p][0]))
    return {"deleted": deleted, "created": created, "replaced": replaced}


def outside_started(changes, started):
    """`changes` without the paths below the folders of started programs (relative paths, "/"
    separated; "" or "." is the whole folder), whose effects no prediction knows."""
    def outside(path):
        return not any(f in ("", ".") or path == f or path.startswith(f + "/") for f in started)
    return {k: [p for p in v if outside(p)] for k, v in changes.items()}


def relative(paths, folder):
    return sorted(os.path.relpath(os.path.normpath(p), folder) for p in paths)


def predict(checker, script, registry, args, answers, become=None, unseen=False):
    command = [checker, "--what-if", "--json", "--answers-default", "no"]
    if unseen:
        command.append("--unseen")
    for section, answer in sorted(answers.items()):
        command += ["--answer", "%s=%s" % (section, answer)]
    if args:
        command += ["--caption", args[0]]
    if registry:
        command += ["--registry", registry]
    command.append(script)
    proc = subprocess.run(command, cwd=os.path.dirname(script), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                          preexec_fn=become)
    return proc.returncode, proc.stdout.decode("utf-8", "replace")


def take_answers(prediction, given, answer):
    """Walks the predicted boxes, asking `answer(yes_no)` for the answer each one takes (None for
    an OK box); returns (section, answer) for the first Yes/No box whose section has no answer
    in `given` yet or another one, else None; and a conflict flag."""
    for box in prediction["boxes"]:
        yes_no = box["kind"] in ("WARNING", "QUESTION") and box["message"] == 0
        taken = answer(yes_no)
        if not yes_no:
            continue
        section = prediction["steps"][box["step"] - 1]["section"].upper()
        if section not in given:
            return (section, taken), False
        if given[section] != taken:
            return (section, taken), True
    return None, False


def terminal_answers(lines):
    """The answers as the terminal takes them from `lines`: an OK box (an error box too) takes
    one line, a Yes/No box takes lines until one starts with y or n; end of input answers No."""
    at = [0]

    def answer(yes_no):
        if not yes_no:
            at[0] += 1
            return None
        while at[0] < len(lines):
            line = lines[at[0]]
            at[0] += 1
            if line[:1] in ("y", "Y"):
                return "yes"
            if line[:1] in ("n", "N"):
                return "no"
        return "no"
    return answer


def compare(scenario, program, registry_program, checker):
    # Folder names of one length, so that a message cut at 1,023 bytes is cut alike in both.
    real = tempfile.mkdtemp(prefix="kestario-real-")
    sim = tempfile.mkdtemp(prefix="kestario-what-")
    real_subst = sc.Scenario.substituter(real, "/", "run")
    sim_subst = sc.Scenario.substituter(sim, "/", "run")
    syslog = run_linux.PrivateSyslog() if "event" in scenario.sections else None
    try:
        real_registry = sc.lay_out(scenario, real, real_subst)
        sim_registry = sc.lay_out(scenario, sim, sim_subst)
        user = scenario.user()
        become = run_linux.becoming(user, real) if user else None
        if user:
            run_linux.becoming(user, sim)
        reason = sc.set_up(scenario, real, real_subst) or sc.set_up(scenario, sim, sim_subst)
        if reason is not None:
            return "excluded", reason
        script = os.path.join(sim, "updater.ini")
        if not (os.path.isfile(script) and os.access(script, os.R_OK)):
            status, _ = predict(checker, script, sim_registry, scenario.args(sim_subst), {},
                                become)
            if status != 2:
                return "differ", ["the script cannot be read, but --what-if exits with %d" % status]
            return "excluded", "no readable script; --what-if exits with 2 as documented (checked)"

        lines = scenario.answers(sim_subst)
        answers = {}
        unseen = scenario.broken_stderr() or scenario.closed_stderr()
        for _ in range(100):
            status, text = predict(checker, script, sim_registry, scenario.args(sim_subst),
                                   answers, become, unseen)
            prediction = json.loads(text)
            if unseen:
                break  # no box takes an answer
            wanted, conflict = take_answers(prediction, answers, terminal_answers(lines))
            if conflict:
                return "excluded", "answers MSGBOX [%s] differently at different times" % wanted[0]
            if wanted is None:
                break
            answers[wanted[0]] = wanted[1]
        uncertain = any(step["uncertain"] for step in prediction["steps"])
        if scenario.what_if_uncertain():
            if not uncertain:
                return "differ", ["the scenario's outcome cannot be foreseen, but no step is "
                                  "marked uncertain: %r" % prediction["end"]["line"]]
            return "uncertain", prediction["end"]["line"]
        if uncertain:
            return "excluded", "a later step depends on what a started program does"

        exe = os.path.join(real, "updater.run")
        shutil.copy2(registry_program if real_registry or scenario.keeps_journal() else program,
                     exe)
        before = snapshot(real)
        argv = [exe] + scenario.args(real_subst)
        if syslog:
            argv = syslog.wrap(argv)
        broken = None
        if scenario.broken_stderr():
            reader, broken = os.pipe()
            os.close(reader)

        def start():
            if become:
                become()
            if scenario.closed_stderr():
                os.close(2)
        proc = subprocess.run(argv, cwd=real,
                              input="".join(a + "\n" for a in scenario.answers(real_subst)).encode(),
                              stdout=subprocess.PIPE,
                              stderr=broken if broken is not None else subprocess.PIPE,
                              timeout=120, preexec_fn=start)
        if broken is not None:
            os.close(broken)
        after = snapshot(real)
        shown, _ = run_linux.parse_boxes((proc.stderr or b"").decode("utf-8", "replace"))

        problems = []
        end = prediction["end"]
        if unseen:
            if shown or any(b["shown"] for b in prediction["boxes"]):
                problems.append("a box was shown where none can be")
        else:
            predicted = [sc.Box(b["kind"], b["caption"], b["text"].replace(sim, real))
                         for b in prediction["boxes"]]
            if shown != predicted:
                problems.append("boxes differ:\n    program %r\n    what-if %r" % (shown, predicted))
            stopped_on_error = bool(shown) and bool(prediction["boxes"]) and \
                prediction["boxes"][-1]["message"] != 0
            if (end["result"] == "error") != stopped_on_error:
                problems.append("outcome differs: what-if says %r" % end["line"])
        if proc.returncode != prediction["exit_code"] & 0xFF:
            problems.append("exit code %d, what-if says %d" % (proc.returncode,
                                                              prediction["exit_code"]))
        if (status, end["result"]) not in ((0, "finish"), (1, "error"), (3, "answer")):
            problems.append("exit status %d for %r" % (status, end["line"]))

        real_changes = changes(before, after)
        real_changes["created"] = [p for p in real_changes["created"] if p != "updater.run"]
        sim_changes = {k: relative(prediction[k], sim) for k in ("deleted", "created", "replaced")}
        started = [os.path.relpath(os.path.dirname(p.split(" ")[0]), sim)
                   for p in prediction["launched"]]
        real_changes = outside_started(real_changes, started)
        sim_changes = outside_started(sim_changes, started)
        if real_changes != sim_changes:
            problems.append("files differ:\n    program %r\n    what-if %r" %
                            (real_changes, sim_changes))
        return ("differ", problems) if problems else ("same", end["line"])
    finally:
        if syslog:
            syslog.close()
        sc.clean_up(scenario, real, real_subst)
        sc.clean_up(scenario, sim, sim_subst)
        run_linux.remove_folder(real)
        run_linux.remove_folder(sim)


def main():
    program, registry_program, checker, folder = [os.path.abspath(a) for a in sys.argv[1:5]]
    names = set(sys.argv[5:])
    # A copy of the checker that a scenario's user may start, wherever the build lies.
    tools = tempfile.mkdtemp(prefix="kestario-checker-")
    os.chmod(tools, 0o755)
    checker = shutil.copy2(checker, tools)
    try:
        return compare_all(program, registry_program, checker, folder, names)
    finally:
        shutil.rmtree(tools)


def compare_all(program, registry_program, checker, folder, names):
    compared = differ = excluded = 0
    for scenario in sc.load_all(folder):
        if names and scenario.name not in names:
            continue
        reason = None
        if not scenario.runs_on("linux"):
            reason = "runs on Windows only"
        elif "nonroot" in scenario.requires() and os.geteuid() == 0:
            reason = "needs a user whom file permissions bind; running as root"
        elif scenario.user() and run_linux.user_problem(scenario.user()):
            reason = run_linux.user_problem(scenario.user())
        elif scenario.limits():
            reason = "sets a resource limit on the program (a full disk, a memory limit), which no prediction knows"
        elif scenario.signal():
            reason = "is stopped by a signal from outside, which no prediction knows"
        elif "event" in scenario.sections and not run_linux.PrivateSyslog.available():
            reason = "writes an event, and no private syslog socket can be made here"
        if reason is None:
            verdict, detail = compare(scenario, program, registry_program, checker)
            if verdict == "excluded":
                reason = detail
        if reason is not None:
            excluded += 1
            print("excl %s: %s" % (scenario.name, reason))
        elif verdict in ("same", "uncertain"):
            compared += 1
            print("%s %s (%s)" % ("same" if verdict == "same" else "unc ", scenario.name,
                                  detail if len(detail) < 100 else detail[:100] + "..."))
        else:
            compared += 1
            differ += 1
            print("DIFF %s\n  %s" % (scenario.name, "\n  ".join(detail)))
    print("%d compared, %d differ, %d excluded" % (compared, differ, excluded))
    return 1 if differ or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
