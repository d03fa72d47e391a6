#!/usr/bin/env python3
"""Runs the shared end-to-end scenarios (tests/e2e/scenarios) on updater.exe under Wine.

Every scenario that runs on "windows" is turned into the statement form of run_scenarios.sh
(which sets up the folder, runs the program on Xvfb, reads and answers the boxes and checks the
files and the exit code) and all of them run in one Wine session.

Usage: tests/wine/run_e2e.py [--exe PATH] [--keep] [NAME...]

How the shared form maps to Windows: {DIR} is the scenario's folder C:\\e2e\\t_NAME, {SEP} "\\",
{EXE} "exe"; the script is stored in code page 932 with CRLF line ends; files hold their bytes
as given; "(ro)" makes a file read-only; App Paths entries go to the registry. Answers "y"/"yes"
answer Yes and "n"/"no" answer No, in order, to the QUESTION and WARNING boxes; other answers
are not taken (as the terminal asks again) and every other box is closed with OK. Scenarios
that need what Windows has not (fifo, links, modes, resource limits, a non-root user) or whose
texts code page 932 cannot hold are skipped, with the reason.
"""

import os
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
import scenario as sc  # noqa: E402

KIND_NAMES = {"ERROR": "error", "INFORMATION": "information", "WARNING": "warning",
              "QUESTION": "question"}


def escape(text):
    """A text in the escapes of run_scenarios.sh: backslash and line feed."""
    return text.replace("\\", "\\\\").replace("\n", "\\n")


def convert(scenario, folder_name):
    """The statements for run_scenarios.sh, or (None, reason) when the scenario cannot run."""
    if scenario.requires():
        return None, "requires " + ", ".join(scenario.requires())
    if scenario.limits():
        return None, "needs resource limits"
    if scenario.broken_stderr():
        return None, "needs a standard error whose reader has gone"
    windir = "C:\\e2e\\" + folder_name
    subst = sc.Scenario.substituter(windir, "\\", "exe")
    out = ["name " + folder_name]
    for arg in scenario.args(subst):
        out.append("arg " + arg)
    for name, content, flags in scenario.files(subst):
        if flags not in ("", "ro"):
            return None, "file %s (%s)" % (name, flags)
        if content is None:
            out.append("folder " + name)
            continue
        out.append("file-hex %s %s" % (name, sc.expand(content).hex()))
        if flags == "ro":
            out.append("readonly " + name)
    for app, (full, path) in scenario.registry(subst).items():
        out.append("no-app-path " + app)
        if full is not None:
            out.append("app-path %s @ %s" % (app, full))
        if path is not None:
            out.append("app-path %s PATH %s" % (app, path))
    if scenario.has_script():
        try:
            script = sc.expand(scenario.script(subst)).decode("utf-8").encode("cp932")
        except (UnicodeDecodeError, UnicodeEncodeError):
            return None, "the script is not text of code page 932"
        out.append("script-hex " + script.replace(b"\n", b"\r\n").hex())
    answers = []
    for answer in scenario.answers(subst):
        word = answer.strip().lower()
        if word in ("y", "yes"):
            answers.append("yes")
        elif word in ("n", "no"):
            answers.append("no")
    for box in scenario.boxes(subst):
        if box.kind in ("QUESTION", "WARNING"):
            if not answers:
                return None, "no answer for a %s box" % box.kind
            answer = answers.pop(0)
        else:
            answer = "ok"
        try:
            box.caption.encode("cp932")
            box.text.encode("cp932")
        except UnicodeEncodeError:
            return None, "a box text that code page 932 cannot hold"
        out.append("box %s %s" % (KIND_NAMES[box.kind], answer))
        out.append("caption " + escape(box.caption))
        out.append("text " + escape(box.text))
    for name, expected in scenario.after(subst):
        if expected is None:
            out.append("expect-missing " + name)
        elif expected == "*":
            out.append("expect-exists " + name)
        else:
            out.append("expect-file-hex %s %s" % (name, sc.expand(expected).hex()))
    out.append("exit 0")
    return out, None


def main():
    args = sys.argv[1:]
    passthrough = []
    while args and args[0].startswith("--"):
        option = args.pop(0)
        passthrough.append(option)
        if option == "--exe":
            passthrough.append(args.pop(0))
    names = set(args)
    work = tempfile.mkdtemp(prefix="kestario-wine-e2e-")
    files = []
    skipped = 0
    for scenario in sc.load_all(os.path.join(TOP, "tests", "e2e", "scenarios")):
        if names and scenario.name not in names:
            continue
        if not scenario.runs_on("windows"):
            continue
        statements, reason = convert(scenario, "t_" + scenario.name)
        if statements is None:
            print("skip %s (%s)" % (scenario.name, reason))
            skipped += 1
            continue
        path = os.path.join(work, scenario.name + ".scenario")
        with open(path, "w", encoding="utf-8") as f:
            f.write("# From tests/e2e/scenarios/%s.scenario\n" % scenario.name)
            f.write("\n".join(statements) + "\n")
        files.append(path)
    if not files:
        print("run_e2e: no scenario to run")
        return 0
    status = subprocess.call([os.path.join(TOP, "tests", "wine", "run_scenarios.sh")] +
                             passthrough + files)
    if skipped:
        print("run_e2e: %d scenarios skipped" % skipped)
    if "--keep" in passthrough:
        print("run_e2e: scenario files kept in " + work)
    else:
        for path in files:
            os.remove(path)
        os.rmdir(work)
    return status


if __name__ == "__main__":
    sys.exit(main())
