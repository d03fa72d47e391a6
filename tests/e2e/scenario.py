"""End-to-end scenarios kept as data, shared by the Linux runner and the Windows (Wine) runner.

A scenario file holds sections that begin with a line "=== NAME":

  === about        free text
  === platforms    "linux", "windows" or both (default: both)
  === args         one command-line argument per line
  === files        files made before the run: "path: content" (content may use \\n and \\t),
                   "path/" for a folder; "path (ro): ..." makes it read-only, "path (x): ..."
                   executable
  === script       the script, written as updater.ini beside the program (absent: no script)
  === registry     App Paths entries: "application: full path | PATH value" (either may be
                   empty; a missing "|" means no PATH value)
  === answers      one answer per line, fed to the boxes in order
  === boxes        the boxes expected, each "--- KIND | CAPTION" followed by its text lines
  === after        files afterwards: "path: content" (exact), "path: *" (exists), "!path" (absent)

In every section but "about", {DIR} stands for the scenario's folder (where the program and its
script lie), {SEP} for the path separator and {EXE} for the program's file name extension
("run" or "exe"). Paths in "files" and "after" use "/" and are relative to {DIR}.
"""

import os
import re

KINDS = ("ERROR", "INFORMATION", "WARNING", "QUESTION")


class Box:
    def __init__(self, kind, caption, text):
        self.kind, self.caption, self.text = kind, caption, text

    def __eq__(self, other):
        return (self.kind, self.caption, self.text) == (other.kind, other.caption, other.text)

    def __repr__(self):
        return "Box(%s | %r | %r)" % (self.kind, self.caption, self.text)


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.sections = {}
        current = None
        with open(path, encoding="utf-8") as f:
            for line in f.read().split("\n"):
                m = re.match(r"^=== (\w+)\s*$", line)
                if m:
                    current = m.group(1)
                    self.sections[current] = []
                elif current is not None:
                    self.sections[current].append(line)
        for key in self.sections:
            while self.sections[key] and self.sections[key][-1] == "":
                self.sections[key].pop()

    def runs_on(self, platform):
        names = " ".join(self.sections.get("platforms", ["linux windows"])).split()
        return platform in names

    def _lines(self, section, subst):
        return [subst(line) for line in self.sections.get(section, [])]

    @staticmethod
    def substituter(folder, sep, ext):
        def subst(text):
            return text.replace("{DIR}", folder).replace("{SEP}", sep).replace("{EXE}", ext)
        return subst

    def args(self, subst):
        return self._lines("args", subst)

    def has_script(self):
        return "script" in self.sections

    def script(self, subst):
        return "\n".join(self._lines("script", subst)) + "\n"

    def answers(self, subst):
        return self._lines("answers", subst)

    def files(self, subst):
        """(relative path, content or None for a folder, mode flags)"""
        result = []
        for line in self._lines("files", subst):
            if not line.strip():
                continue
            if line.endswith("/"):
                result.append((line[:-1], None, ""))
                continue
            name, _, content = line.partition(": ")
            flags = ""
            m = re.match(r"^(.*) \((ro|x)\)$", name)
            if m:
                name, flags = m.group(1), m.group(2)
            result.append((name, unescape(content), flags))
        return result

    def registry(self, subst):
        """application -> (full path or None, PATH value or None)"""
        result = {}
        for line in self._lines("registry", subst):
            if not line.strip():
                continue
            app, _, values = line.partition(": ")
            full, bar, path = values.partition(" | ")
            if not bar and values.endswith(" |"):
                full, bar, path = values[:-2], "|", ""
            result[app] = (full if full else None, path if bar else None)
        return result

    def boxes(self, subst):
        result = []
        for line in self._lines("boxes", subst):
            m = re.match(r"^--- (\w+) \| (.*)$", line)
            if m:
                assert m.group(1) in KINDS, line
                result.append([m.group(1), m.group(2), []])
            elif result:
                result[-1][2].append(line)
        return [Box(kind, caption, "\n".join(text)) for kind, caption, text in result]

    def after(self, subst):
        """(relative path, expected content, or "*" for any, or None for absent)"""
        result = []
        for line in self._lines("after", subst):
            if not line.strip():
                continue
            if line.startswith("!"):
                result.append((line[1:], None))
            else:
                name, _, content = line.partition(": ")
                result.append((name, content if content == "*" else unescape(content)))
        return result


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def load_all(folder):
    return [Scenario(os.path.join(folder, name))
            for name in sorted(os.listdir(folder)) if name.endswith(".scenario")]


def check_files(scenario, folder, subst):
    """Problems with the files after a run, as a list of texts."""
    problems = []
    for name, expected in scenario.after(subst):
        path = os.path.join(folder, name)
        if expected is None:
            if os.path.lexists(path):
                problems.append("%s should not exist" % name)
        elif not os.path.lexists(path):
            problems.append("%s is missing" % name)
        elif expected != "*":
            with open(path, "rb") as f:
                actual = f.read().decode("utf-8", "replace")
            if actual != expected:
                problems.append("%s holds %r, expected %r" % (name, actual, expected))
    return problems
