#!/usr/bin/env python3
"""Runs the shared end-to-end scenarios (tests/e2e/scenarios) on updater.exe under Wine.

Every scenario that runs on "windows" is turned into the statement form of run_scenarios.sh
(which sets up the folder, runs the program on Xvfb, reads and answers the boxes and checks the
files and the exit code) and all of them run in one Wine session.

Usage: tests/wine/run_e2e.py [--exe PATH] [--keep] [--what-if CHECKER] [NAME...]

With --what-if, each scenario also checks that `CHECKER --what-if` (updater-check.exe, under the
same Wine and in the same folder) predicts the boxes, the outcome and the file changes of the
program's run (what_if_wine.py), and the tally "what-if: N compared, N differ, N excluded" ends
the output.

How the shared form maps to Windows: {DIR} is the scenario's folder C:\\e2e\\t_NAME, {SEP} "\\",
{EXE} "exe"; the programs run as on a Japanese desktop (code page 932, Japanese user interface);
the script is stored in code page 932 with CRLF line ends; files hold their bytes as given;
"(ro)" makes a file read-only, "(hidden)" hidden; a "(program)" is a real program that starts and
ends at once (profile_probe.exe); the setup and cleanup commands run in the folder (the harness's
"before" and "cleanup"); App Paths entries go to the registry, and so do the values of the
signature policy (removed again after the run). The boxes are compared as Unicode
text: what the program passed to MessageBoxW and what the dialog shows. Answers "y"/"yes"
answer Yes and "n"/"no" answer No, in order, to the QUESTION and WARNING boxes; other answers
are not taken (as the terminal asks again) and every other box is closed with OK. Scenarios
that need what Windows has not (fifo, links, modes, resource limits, a non-root user) or whose
script code page 932 cannot hold are skipped, with the reason, and so are those that run more
than once, check a run log or name the computer or the user outside their event (the Wine
scenarios log_cp932 and invisible_station check the log under Wine). The exit code is compared as
Wine hands it on, its low 8 bits. The event of a scenario is read from Wine's trace of
ReportEventW (tests/wine/check_event.py, which also builds its text from the program's message
table); there {COMPUTER} and {USER} are the names Wine gives: the host name, cut to 15 characters
and in upper case, and the user's login name.
"""

import json
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
import scenario as sc  # noqa: E402

# The computer and user names that Wine's GetComputerNameA and GetUserNameA give.
WINE_COMPUTER = socket.gethostname().split(".")[0][:15].upper()
WINE_USER = pwd.getpwuid(os.getuid()).pw_name
# The shared scenarios' texts are Japanese: they run as on a Japanese desktop.
LOCALE = "ja_JP.UTF-8"
KIND_NAMES = {"ERROR": "error", "INFORMATION": "information", "WARNING": "warning",
              "QUESTION": "question"}


def escape(text):
    """A text in the escapes of run_scenarios.sh: backslash and line feed."""
    return text.replace("\\", "\\\\").replace("\n", "\\n")


def convert(scenario, folder_name, work):
    """(statements for run_scenarios.sh, None, what the what-if comparison needs), or
    (None, reason, None) when the scenario cannot run. `work` is the folder for the files that
    the statements' checks read."""
    unmet = [r for r in scenario.requires() if r != "root" or os.geteuid() != 0]
    if unmet:
        return None, "requires " + ", ".join(unmet), None
    if scenario.user():
        return None, "runs as another user (the Linux runner does)", None
    if scenario.limits():
        return None, "needs resource limits", None
    if scenario.runs() != 1 or "log" in scenario.sections:
        return None, "runs or a run log (the log under Wine: tests/wine/scenarios/log_cp932)", None
    if any("{COMPUTER}" in line or "{USER}" in line
           for name, lines in scenario.sections.items() if name != "event" for line in lines):
        return None, "names the computer or the user (checked by the Linux runner)", None
    if scenario.broken_stderr():
        return None, "needs a standard error whose reader has gone", None
    windir = "C:\\e2e\\" + folder_name
    subst = sc.Scenario.substituter(windir, "\\", "exe")
    out = ["name " + folder_name, "locale " + LOCALE]
    for arg in scenario.args(subst):
        out.append("arg " + arg)
    for name, content, flags in scenario.files(subst):
        if flags not in ("", "ro", "hidden", "program"):
            return None, "file %s (%s)" % (name, flags), None
        if content is None:
            out.append("folder " + name)
            continue
        if flags == "program":
            out.append("probe " + name)
            continue
        out.append("file-hex %s %s" % (name, sc.expand(content).hex()))
        if flags == "ro":
            out.append("readonly " + name)
        elif flags == "hidden":
            out.append("hidden " + name)
    for command in scenario.sections.get("setup", []):
        out.append("before " + subst(command))
    for command in scenario.sections.get("cleanup", []):
        out.append("cleanup " + subst(command))
    for app, (full, path) in scenario.registry(subst).items():
        out.append("no-app-path " + app)
        if full is not None:
            out.append("app-path %s @ %s" % (app, full))
        if path is not None:
            out.append("app-path %s PATH %s" % (app, path))
    for name, data in scenario.policy(subst):
        out.append("policy %s %s" % (name, data))
    if scenario.has_script():
        try:
            script = sc.expand(scenario.script(subst)).decode("utf-8").encode("cp932")
        except (UnicodeDecodeError, UnicodeEncodeError):
            return None, "the script is not text of code page 932", None
        out.append("script-hex " + script.replace(b"\n", b"\r\n").hex())
    answers = []
    given = []
    expected_boxes = []
    for answer in scenario.answers(subst):
        word = answer.strip().lower()
        if word in ("y", "yes"):
            answers.append("yes")
        elif word in ("n", "no"):
            answers.append("no")
    for box in scenario.boxes(subst):
        if box.kind in ("QUESTION", "WARNING"):
            if not answers:
                return None, "no answer for a %s box" % box.kind, None
            answer = answers.pop(0)
            given.append(answer)
        else:
            answer = "ok"
        expected_boxes.append([box.kind, box.caption, box.text])
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
    out.append("exit %d" % scenario.exit_code())
    event = scenario.event(sc.Scenario.substituter(windir, "\\", "exe", WINE_COMPUTER, WINE_USER))
    if event is not None:
        spec = os.path.join(work, folder_name + ".event.json")
        with open(spec, "w", encoding="utf-8") as f:
            json.dump({"type": event[0], "id": event[1], "strings": event[2],
                       "program": windir + "\\updater.exe"}, f)
        out.append("debug +eventlog")
        out.append('check python3 "$TOP/tests/wine/check_event.py" trace.txt "%s"' % spec)
    what_if = {"name": scenario.name, "windir": windir, "args": scenario.args(subst),
               "answers": given, "boxes": expected_boxes, "locale": LOCALE}
    return out, None, what_if


def what_if_hooks(spec, work, checker):
    """The statements that compare the scenario's run with the checker's prediction of it."""
    spec = dict(spec, checker=checker, results=os.path.join(work, "what-if.txt"))
    path = os.path.join(work, spec["name"] + ".what-if.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(spec, f)
    hook = 'python3 "$TOP/tests/wine/what_if_wine.py" %s "' + path + '"'
    return ["before " + hook % "before", "check " + hook % "check"]


def what_if_tally(work):
    """Prints the comparison's verdicts and tally; False when one differs or none was compared."""
    path = os.path.join(work, "what-if.txt")
    lines = []
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        os.remove(path)
    for line in lines:
        print(line)
    compared = sum(1 for line in lines if not line.startswith("excl "))
    differ = sum(1 for line in lines if line.startswith("DIFF "))
    print("what-if: %d compared, %d differ, %d excluded" %
          (compared, differ, len(lines) - compared))
    return compared > 0 and differ == 0


def main():
    args = sys.argv[1:]
    passthrough = []
    checker = None
    while args and args[0].startswith("--"):
        option = args.pop(0)
        if option == "--what-if":
            checker = os.path.abspath(args.pop(0))
            continue
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
        statements, reason, what_if = convert(scenario, "t_" + scenario.name, work)
        if statements is None:
            print("skip %s (%s)" % (scenario.name, reason))
            skipped += 1
            continue
        if checker:
            statements += what_if_hooks(what_if, work, checker)
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
    if checker and not what_if_tally(work):
        status = status or 1
    if "--keep" in passthrough:
        print("run_e2e: scenario files kept in " + work)
    else:
        shutil.rmtree(work)
    return status


if __name__ == "__main__":
    sys.exit(main())
