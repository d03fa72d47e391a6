#!/usr/bin/env python3
"""Runs updater-check over the script of every end-to-end scenario, in a read-only copy.

usage: run_over_scenarios.py CHECKER SCENARIO_FOLDER [NAME ...]

Each scenario's files, registry and script are laid out in a fresh temporary folder as the
end-to-end runner lays them out (the script as updater.ini; a scenario without a script has none),
and the whole folder is made read-only (chmod -R a-w). The checker then runs on updater.ini in each
of its output modes (findings, --json, --plan, --dot), and --what-if (text and --json), from inside
the folder. For every scenario:

- the exit status is 0, 1 or 2, and the same in every mode; 2 exactly when updater.ini is not a
  readable file (absent, a folder, a named pipe, a dangling link, or unreadable to this user);
- --json prints a JSON array of findings with the fields file, line, column, severity, rule,
  section, key and message, each error's rule a KU1xx and each warning's a KU2xx, and the status
  is 1 exactly when one of them is an error;
- when the program itself stops with message 2, 3, 4 or 6 on a readable script (a missing key, a
  SWITCH loop, an empty list, a name that names nothing), the checker reports an error (status 1);
- --what-if ends with 0, 1, 2 or 3, 2 exactly when updater.ini is not a readable file, and
  --what-if --json prints one JSON object whose "end" says how the run would end;
- nothing changed: a recursive listing of the folder (names, kinds, sizes, modes, modification
  times and file contents) is the same before and after. Permissions do not stop root, so this
  listing is what proves that the checker wrote and deleted nothing.

Prints one line per scenario and "N passed, N failed"; exits with 1 when any scenario failed.
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

# The first lines of the messages that the checker must foresee.
FORESEEN = {
    2: "設定ファイルのフォーマットが正しくありません。",
    3: "メモリが不足しています。",
    4: "設定パラメータのアイテム数が正しくありません。",
    6: "シンボルが正しくありません。",
}
MODES = ([], ["--json"], ["--plan"], ["--dot"])
WHAT_IF_MODES = (["--what-if"], ["--what-if", "--json"])
WHAT_IF_ENDS = {0: "finish", 1: "error", 3: "answer"}
FIELDS = {"file", "line", "column", "severity", "rule", "section", "key", "message"}
RULE_PREFIX = {"error": "KU1", "warning": "KU2"}


def lay_out(scenario, folder):
    """Writes the scenario's files, registry and script into `folder` as the end-to-end runner
    does; returns the registry file's path, or None."""
    return sc.lay_out(scenario, folder, sc.Scenario.substituter(folder, "/", "run"))


def listing(folder):
    """Everything below `folder` that a write or a deletion would change."""
    entries = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in [root] + sorted(os.path.join(root, f) for f in files):
            info = os.lstat(name)
            digest = ""
            if stat.S_ISREG(info.st_mode):
                with open(name, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            entries.append((os.path.relpath(name, folder), stat.S_IFMT(info.st_mode),
                            stat.S_IMODE(info.st_mode), info.st_size, info.st_mtime_ns, digest))
    return entries


def set_writable(folder, writable):
    for root, dirs, files in os.walk(folder):
        for name in [root] + [os.path.join(root, f) for f in files]:
            if os.path.islink(name):
                continue
            mode = os.lstat(name).st_mode
            mode = mode | stat.S_IWUSR if writable else mode & ~(stat.S_IWUSR | stat.S_IWGRP |
                                                                  stat.S_IWOTH)
            os.chmod(name, stat.S_IMODE(mode))


def program_stops_with_foreseen_message(scenario, folder):
    subst = sc.Scenario.substituter(folder, "/", "run")
    for box in scenario.boxes(subst):
        if box.kind != "ERROR":
            continue
        for number, first_line in FORESEEN.items():
            if box.text.startswith(first_line):
                return number
    return None


def check(scenario, checker):
    problems = []
    folder = tempfile.mkdtemp(prefix="kestario-check-")
    try:
        registry_file = lay_out(scenario, folder)
        script = os.path.join(folder, "updater.ini")
        readable = os.path.isfile(script) and os.access(script, os.R_OK)
        set_writable(folder, False)
        before = listing(folder)
        statuses = []

        def check(mode):
            """The checker run in `mode` (its options) on the scenario's script."""
            command = [checker] + mode
            if registry_file:
                command += ["--registry", registry_file]
            command.append(script)
            return subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=240)

        for mode in MODES:
            proc = check(mode)
            statuses.append(proc.returncode)
            if proc.returncode not in (0, 1, 2):
                problems.append("%s: exit status %d" % (" ".join(mode) or "findings",
                                                        proc.returncode))
            if mode == ["--json"] and proc.returncode in (0, 1):
                try:
                    findings = json.loads(proc.stdout.decode("utf-8"))
                except ValueError as error:
                    problems.append("--json printed no JSON: %s" % error)
                    continue
                if not all(isinstance(f, dict) and set(f) == FIELDS for f in findings):
                    problems.append("--json findings lack fields: %r" % findings)
                    continue
                for f in findings:
                    if not str(f["rule"]).startswith(RULE_PREFIX.get(f["severity"], "?")):
                        problems.append("%s finding of rule %s" % (f["severity"], f["rule"]))
                errors = sum(1 for f in findings if f.get("severity") == "error")
                if (errors > 0) != (proc.returncode == 1):
                    problems.append("%d errors but exit status %d" % (errors, proc.returncode))
        for mode in WHAT_IF_MODES:
            proc = check(mode)
            shown = " ".join(mode)
            if proc.returncode not in (0, 1, 2, 3):
                problems.append("%s: exit status %d" % (shown, proc.returncode))
            if (proc.returncode == 2) == readable:
                problems.append("%s: exit status %d, but the script %s a readable file" %
                                (shown, proc.returncode, "is" if readable else "is not"))
            if "--json" in mode and proc.returncode in WHAT_IF_ENDS:
                try:
                    end = json.loads(proc.stdout.decode("utf-8"))["end"]["result"]
                except (ValueError, KeyError, TypeError) as error:
                    problems.append("%s printed no run: %s" % (shown, error))
                    continue
                if end != WHAT_IF_ENDS[proc.returncode]:
                    problems.append("%s: exit status %d, but the run would end with %r" %
                                    (shown, proc.returncode, end))
        after = listing(folder)
        if before != after:
            changed = sorted(set(before) ^ set(after))
            problems.append("the folder changed: %r" % changed)
        if len(set(statuses)) != 1:
            problems.append("exit statuses differ between modes: %r" % statuses)
        status = statuses[0]
        if (status == 2) == readable:
            problems.append("exit status %d, but the script %s a readable file" %
                            (status, "is" if readable else "is not"))
        # The boxes of a scenario that needs a user whom permissions bind do not hold for root,
        # nor those of one that runs out of memory under its limit, which the checker has not.
        requires = getattr(scenario, "requires", lambda: [])()
        boxes_hold = not ("nonroot" in requires and os.geteuid() == 0)
        boxes_hold = boxes_hold and "memory" not in scenario.limits()
        message = program_stops_with_foreseen_message(scenario, folder)
        if readable and boxes_hold and message is not None and status != 1:
            problems.append("the program stops with message %d, but the checker exits with %d"
                            % (message, status))
        return status, problems
    finally:
        set_writable(folder, True)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    checker, folder = os.path.abspath(sys.argv[1]), sys.argv[2]
    names = set(sys.argv[3:])
    passed = failed = 0
    for scenario in sc.load_all(folder):
        if names and scenario.name not in names:
            continue
        status, problems = check(scenario, checker)
        if problems:
            failed += 1
            print("FAIL %s (exit %d)\n  %s" % (scenario.name, status, "\n  ".join(problems)))
        else:
            passed += 1
            print("ok   %s (exit %d)" % (scenario.name, status))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
