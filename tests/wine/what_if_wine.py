#!/usr/bin/env python3
"""Prediction equals reality under Wine: updater-check.exe --what-if against updater.exe.

run_e2e.py --what-if CHECKER runs this around each shared scenario, as the scenario's hooks:

  what_if_wine.py before SPEC   in the scenario's folder, after its files (and App Paths entries)
                                are made and before updater.exe starts: predicts the run with
                                `CHECKER --what-if --json` under the same Wine and keeps the
                                prediction and a snapshot of the folder
  what_if_wine.py check SPEC    after updater.exe has ended: compares

SPEC is a JSON file written by run_e2e.py: the checker, the folder's Windows path, the scenario's
command-line words, its yes/no answers in order, the locale the program runs in (the checker runs
in it too) and the boxes the scenario expects (the harness
checks that updater.exe shows exactly those). The what-if runs in the very folder the program runs
in next, since it changes nothing (the Linux comparison checks that on every scenario). Compared,
as on Linux: the boxes in order, the outcome, and the files deleted, created and replaced. A
scenario whose later steps depend on a started program is left out, with its reason.

Each verdict is one line appended to SPEC's "results" file: "same NAME (END LINE)",
"excl NAME: REASON" or "DIFF NAME: WHAT"; `check` exits with 1 on a difference.
"""

import json
import os
import posixpath
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "checker"))
from what_if_vs_program import changes, outside_started, snapshot, take_answers  # noqa: E402

WINE = os.environ.get("WINE_BIN", "/usr/lib/wine/wine64")
# What the harness itself puts in the folder: the program and the trace of its run.
HARNESS_FILES = {"updater.exe", "trace.txt", "stdout.txt"}


def predict(spec, answers):
    command = [WINE, spec["checker"], "--what-if", "--json", "--answers-default", "no"]
    for section, answer in sorted(answers.items()):
        command += ["--answer", "%s=%s" % (section, answer)]
    if spec["args"]:
        command += ["--caption", spec["args"][0]]
    command.append(spec["windir"] + "\\updater.ini")
    # Into a file, not a pipe: a wineserver that this call starts keeps the pipe open after the
    # checker has ended, so reading it to its end would wait for the wineserver. A prediction
    # always prints something, so an empty answer is a start that Wine lost (seen once in a loaded
    # run): the checker is started again, up to three times.
    for attempt in range(3):
        with tempfile.TemporaryFile() as out:
            proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=120,
                                  env=dict(os.environ, LANG=spec["locale"]))
            out.seek(0)
            text = out.read().decode("utf-8").replace("\r\n", "\n")
        if text.strip() or proc.returncode == 2:
            break
        print("    what-if: no answer from the checker (attempt %d)" % (attempt + 1))
    return proc.returncode, json.loads(text) if proc.returncode != 2 else None


def in_order(answers):
    """The answers as the harness gives them: each Yes/No box takes the next of `answers` (No
    when they have run out), an OK box none."""
    rest = iter(answers)
    return lambda yes_no: next(rest, "no") if yes_no else None


def settle(spec):
    """The prediction once every box has the answer the scenario gives it, or (None, reason)."""
    answers = {}
    for _ in range(100):
        status, prediction = predict(spec, answers)
        if status == 2:
            return None, "no readable script; --what-if exits with 2 as documented"
        wanted, conflict = take_answers(prediction, answers, in_order(spec["answers"]))
        if conflict:
            return None, "answers MSGBOX [%s] differently at different times" % wanted[0]
        if wanted is None:
            prediction["status"] = status
            return prediction, None
        answers[wanted[0]] = wanted[1]
    return None, "the answers never settle"


def local(windows_path, spec):
    """A predicted Windows path as a path relative to the folder ("/" separated)."""
    prefix = spec["windir"].lower() + "\\"
    if windows_path.lower().startswith(prefix):
        windows_path = windows_path[len(prefix):]
    # Windows reads a doubled separator as one, and drops the dots and blanks that end a name
    # ("a.txt." is "a.txt"), as the program's run shows.
    parts = posixpath.normpath(windows_path.replace("\\", "/")).split("/")
    return "/".join(p if p in (".", "..") or not p.rstrip(". ") else p.rstrip(". ") for p in parts)


def record(spec, line):
    with open(spec["results"], "a", encoding="utf-8") as f:
        f.write(line + "\n")


def before(spec, spec_path):
    prediction, reason = settle(spec)
    if prediction is not None and any(s["uncertain"] for s in prediction["steps"]):
        prediction, reason = None, "a later step depends on what a started program does"
    state = {"prediction": prediction, "reason": reason,
             "before": {k: list(v) for k, v in snapshot(".").items()}}
    with open(spec_path + ".state", "w", encoding="utf-8") as f:
        json.dump(state, f)
    return 0


def differences(spec, prediction, before_files, after_files):
    problems = []
    predicted = [[b["kind"], b["caption"], b["text"]] for b in prediction["boxes"]]
    if predicted != spec["boxes"]:
        problems.append("boxes: program %r, what-if %r" % (spec["boxes"], predicted))
    end = prediction["end"]
    stopped_on_error = bool(prediction["boxes"]) and prediction["boxes"][-1]["message"] != 0
    if (end["result"] == "error") != stopped_on_error:
        problems.append("outcome: what-if says %r" % end["line"])
    if (prediction["status"], end["result"]) not in ((0, "finish"), (1, "error"), (3, "answer")):
        problems.append("exit status %d for %r" % (prediction["status"], end["line"]))
    real = changes(before_files, after_files)
    real = {k: [p for p in v if p not in HARNESS_FILES] for k, v in real.items()}
    simulated = {k: sorted(local(p, spec) for p in prediction[k])
                 for k in ("deleted", "created", "replaced")}
    started = [os.path.dirname(local(p.split(" ")[0], spec)) for p in prediction["launched"]]
    real = outside_started(real, started)
    simulated = outside_started(simulated, started)
    if real != simulated:
        problems.append("files: program %r, what-if %r" % (real, simulated))
    return problems


def check(spec, spec_path):
    with open(spec_path + ".state", encoding="utf-8") as f:
        state = json.load(f)
    if state["prediction"] is None:
        if state["reason"].startswith("no readable script") and \
                (not spec["boxes"] or spec["boxes"][-1][0] != "ERROR"):
            record(spec, "DIFF %s: the program ran without an error, but %s" %
                   (spec["name"], state["reason"]))
            return 1
        record(spec, "excl %s: %s" % (spec["name"], state["reason"]))
        return 0
    before_files = {k: tuple(v) for k, v in state["before"].items()}
    after_files = snapshot(".")
    problems = differences(spec, state["prediction"], before_files, after_files)
    if problems:
        record(spec, "DIFF %s: %s" % (spec["name"], "; ".join(problems)))
        print("    what-if differs: " + "\n    ".join(problems))
        return 1
    record(spec, "same %s (%s)" % (spec["name"], state["prediction"]["end"]["line"][:100]))
    return 0


def main():
    command, spec_path = sys.argv[1], sys.argv[2]
    with open(spec_path, encoding="utf-8") as f:
        spec = json.load(f)
    return before(spec, spec_path) if command == "before" else check(spec, spec_path)


if __name__ == "__main__":
    sys.exit(main())
