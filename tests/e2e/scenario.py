"""End-to-end scenarios kept as data, shared by the Linux runner and the Windows (Wine) runner.

A scenario file holds sections that begin with a line "=== NAME":

  === about        free text
  === platforms    "linux", "windows" or both (default: both)
  === requires     optional conditions, one a line; "nonroot": the scenario needs a user whom file
                   permissions bind (root reads a file of mode 000), and is skipped as root;
                   "root": its setup needs root, and it is skipped otherwise
  === limits       optional resource limits of the program's process, one a line: "fsize BYTES"
                   (the largest file it may write, RLIMIT_FSIZE), "memory BYTES" (its address
                   space, RLIMIT_AS; skipped for a sanitizer build, which needs more); a runner
                   that cannot set them skips the scenario
  === stderr       optional: "broken pipe" runs the program with a standard error whose reader
                   has gone, so that no box can be written (no "boxes" are then expected);
                   "closed" runs it with standard error closed (`2>&-`, Linux only)
  === stdout       optional: "broken pipe" runs the program with a standard output whose reader
                   has gone
  === reader       optional: the path of a named pipe (relative to {DIR}) that a reader opens
                   before each run; it reads until it has seen one line end or the run ended,
                   then goes away
  === user         optional: the user the program runs as, by name (such as "nobody"), whom file
                   permissions bind and who owns none of the scenario's files; its folder is
                   opened to every user for reading (mode 0755), and a runner that cannot become
                   that user (not root, no such user) skips the scenario. {USER} is its name
  === setup        optional shell commands (bash, one a line), run in the scenario's folder after its
                   files are made and before the program runs, as the runner's user; for what the
                   files cannot say (chattr, a mount, a file of another user). When they fail, the
                   scenario is skipped with their output
  === cleanup      optional shell commands run in the folder at the end, whatever happened
  === args         one command-line argument per line
  === files        files made before the run: "path: content" (content may use \\n, \\r and
                   \\t), "path/" for a folder; "path (ro): ..." makes it read-only, "path (x): ..."
                   executable, "path (noread): ..." mode 000, "path (rw): ..." mode 0666 (any user
                   may write it), "path (fifo):" a named pipe,
                   "path (link): TARGET" a symbolic link to TARGET (which need not exist),
                   "path (hidden): ..." hidden (Windows; on Linux a plain file), "path
                   (program):" a real program that starts and ends at once (Linux: a shell
                   script that exits with 0; Windows: a small .exe)
  === script       the script, written as updater.ini beside the program (absent: no script)
  === registry     App Paths entries: "application: full path | PATH value" (either may be
                   empty; a missing "|" means no PATH value)
  === policy       the machine's signature policy: one value of the key
                   HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Kestario\\Updater a line, "NAME: DATA"
                   (a REG_SZ; on Linux a line of the registry file, whose scenario then has one
                   even without App Paths entries; on Windows the key is removed after the run).
                   The setup signs the script with openssl, after the script is written
  === answers      one answer per line, fed to the boxes in order
  === boxes        the boxes expected, each "--- KIND | CAPTION" followed by its text lines
  === after        files afterwards: "path: content" (exact), "path: *" (exists), "!path" (absent;
                   with "*" or "?" in it: nothing matches the pattern)
  === runs         how many times the program runs in the folder (default 1); each run is given
                   all the answers, and "boxes" lists the boxes of every run in order
  === signal       optional (Linux): "NAME at box" sends the signal NAME (such as SIGTERM) while
                   the run's first box waits for its answer, instead of answering it; "NAME at
                   copy" sends it as the first copy's data begins to move (strace's syscall
                   injection at the first copy_file_range; a runner without strace skips it)
  === exit         the exit code the program returns, as Windows reports it (default 0: a
                   script without EXITCODE always ends with 0); of every run. A runner on Linux
                   sees its low 8 bits, as does a Linux parent of a program under Wine (1603
                   arrives as 67); "signal N": the process ends by signal N (Linux)
  === event        the one event the run writes to the system's log (EVENTLOG): a first line
                   "TYPE ID" (Information, Warning or Error, and the event ID), then one line per
                   string of the event, in order; a line break inside a string is the two
                   characters backslash and n. On Linux the program runs in a private mount
                   namespace whose /dev/log is a socket of the runner's (root only), which must
                   receive exactly that event: its priority, and the text of resources/events.def
                   with the strings filled in (its line breaks written as \\n)
  === syslog       optional, with "event" (Linux): "full" gives the program a syslog socket that
                   never reads, its queue full before the run: the run must end within 5 s with
                   its exit code, and the event is lost; "stream" a stream socket whose reader
                   takes a record to end at a line feed: it must see exactly the one event
  === what-if      optional: "uncertain" when `updater-check --what-if` cannot foresee how this run
                   goes on this machine; the what-if comparisons then check that the prediction
                   marks a step uncertain, instead of comparing it with the run
  === log          the run log afterwards: a first line "file: PATH" (relative to {DIR}), then
                   one line per event without its head and frame, which are checked for their
                   form (the local date and time with its UTC offset, the computer name, the
                   process id; " #" and the line's length); "!PATH" alone: no log file.
                   {COMPUTER} and {USER} stand for the computer's and the user's names here; a
                   line break inside a logged text is the two characters backslash and n; {*}
                   stands for any text (a rollback run's kept names, which hold its id). A
                   single event "*" checks only the form: every line whole, with its head, and
                   its frame right (so none is cut or glued to another)
  === report       what updater-report prints for that log after the runs (the Linux runner runs
                   the updater-report beside the program), compared line by line with each run
                   of spaces taken as one; {TIME} stands for a date and time (with its UTC offset
                   when the log gives one), and {LOGUSER} for
                   the user that the first start line of "log" names ("-" when it names none)

In every section but "about", {DIR} stands for the scenario's folder (where the program and its
script lie), {SEP} for the path separator and {EXE} for the program's file name extension
("run" or "exe"). Paths in "files" and "after" use "/" and are relative to {DIR}.

Generators, for inputs too big or too odd to write out; they may stand in file contents, script
lines, "after" contents and expected box captions and texts (expand() gives the bytes):

  {REPEAT N TEXT}  TEXT N times; in TEXT, %i stands for the repetition's number (0 to N - 1) and
                   \\n, \\r, \\t for line feed, carriage return and tab, and \\} for "}"
  {HEX HEXDIGITS}  the bytes written in hexadecimal, such as {HEX efbbbf} or {HEX 00}
  {BYTES N SEED}   N bytes of deterministic noise (any byte value) from the number SEED

A scenario without generators reads exactly as before; a runner that does not know them can leave
such scenarios to the platforms that do ("=== platforms").
"""

import glob
import os
import re
import signal as signal_module
import subprocess

KINDS = ("ERROR", "INFORMATION", "WARNING", "QUESTION")
# The event types of the system's log and the syslog priority of each (LOG_ERR, LOG_WARNING,
# LOG_INFO).
EVENT_TYPES = {"Error": 3, "Warning": 4, "Information": 6}
EVENTS_DEF = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "resources", "events.def")


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
                m = re.match(r"^=== ([\w-]+)\s*$", line)
                if m:
                    current = m.group(1)
                    self.sections[current] = []
                elif current is not None:
                    self.sections[current].append(line)
        for key in self.sections:
            while self.sections[key] and self.sections[key][-1] == "":
                self.sections[key].pop()

    def what_if_uncertain(self):
        lines = [line.strip() for line in self.sections.get("what-if", []) if line.strip()]
        assert lines in ([], ["uncertain"]), lines
        return lines == ["uncertain"]

    def runs_on(self, platform):
        names = " ".join(self.sections.get("platforms", ["linux windows"])).split()
        return platform in names

    def _lines(self, section, subst):
        return [subst(line) for line in self.sections.get(section, [])]

    @staticmethod
    def substituter(folder, sep, ext, computer="", user=""):
        def subst(text):
            text = text.replace("{DIR}", folder).replace("{SEP}", sep).replace("{EXE}", ext)
            return text.replace("{COMPUTER}", computer).replace("{USER}", user)
        return subst

    def _number(self, section, default):
        lines = [line.strip() for line in self.sections.get(section, []) if line.strip()]
        return int(lines[0]) if lines else default

    def runs(self):
        return self._number("runs", 1)

    def log(self, subst):
        """(relative path, expected events or None for no file), or None without a "log"."""
        if "log" not in self.sections:
            return None
        lines = self._lines("log", subst)
        first = lines[0]
        if first.startswith("!"):
            return first[1:].strip(), None
        assert first.startswith("file: "), first
        return first[len("file: "):].strip(), [expand_text(line) for line in lines[1:]]

    def exit_code(self):
        return 0 if self.exit_signal() else self._number("exit", 0)

    def exit_signal(self):
        """N for an "exit" of "signal N" (the process ends by that signal), else 0."""
        lines = [line.split() for line in self.sections.get("exit", []) if line.strip()]
        return int(lines[0][1]) if lines and lines[0][0] == "signal" else 0

    def signal(self):
        """(signal number, "box" or "copy") of the "signal" section, or None without one."""
        lines = [line.split() for line in self.sections.get("signal", []) if line.strip()]
        if not lines:
            return None
        return int(getattr(signal_module, lines[0][0])), lines[0][2]

    def event(self, subst):
        """(type, id, [strings]) of the "event" section, or None without one."""
        if "event" not in self.sections:
            return None
        lines = self._lines("event", subst)
        kind, number = lines[0].split()
        assert kind in EVENT_TYPES, lines[0]
        return kind, int(number), [expand_text(line).replace("\\n", "\n") for line in lines[1:]]

    def syslog(self):
        """What the syslog socket of an "event" scenario is like: "read", "full" or "stream"."""
        lines = [line.strip() for line in self.sections.get("syslog", []) if line.strip()]
        assert lines in ([], ["full"], ["stream"]), lines
        return lines[0] if lines else "read"

    def requires(self):
        return [line.strip() for line in self.sections.get("requires", []) if line.strip()]

    def limits(self):
        """{"fsize": bytes, "memory": bytes}"""
        result = {}
        for line in self.sections.get("limits", []):
            if not line.strip():
                continue
            name, value = line.split()
            assert name in ("fsize", "memory"), line
            result[name] = int(value)
        return result

    def broken_stderr(self):
        return self._broken("stderr")

    def broken_stdout(self):
        return self._broken("stdout")

    def _broken(self, stream):
        lines = [line.strip() for line in self.sections.get(stream, []) if line.strip()]
        assert lines in ([], ["broken pipe"], ["closed"]) and (lines != ["closed"] or
                                                              stream == "stderr"), lines
        return lines == ["broken pipe"]

    def closed_stderr(self):
        return [line.strip() for line in self.sections.get("stderr", []) if line.strip()] == [
            "closed"]

    def reader(self):
        """The named pipe (relative path) that a reader reads during each run, or None."""
        lines = [line.strip() for line in self.sections.get("reader", []) if line.strip()]
        return lines[0] if lines else None

    def user(self):
        """The name of the user the program runs as, or None."""
        lines = [line.strip() for line in self.sections.get("user", []) if line.strip()]
        return lines[0] if lines else None

    def args(self, subst):
        return self._lines("args", subst)

    def has_script(self):
        return "script" in self.sections

    def keeps_journal(self):
        """Whether the script may keep a rollback journal (ROLLBACK, INUSE): the runners then use
        the program that keeps its journals in the scenario's folder, not the machine's."""
        return any(re.match(r"^\s*(ROLLBACK|INUSE)\s*=", line, re.I)
                   for line in self.sections.get("script", []))

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
            if ": " not in line and line.endswith(":"):
                name, content = line[:-1], ""  # "path:" or "path (fifo):" with nothing after
            else:
                name, _, content = line.partition(": ")
            flags = ""
            m = re.match(r"^(.*) \((ro|x|noread|rw|fifo|link|hidden|program)\)$", name)
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

    def policy(self, subst):
        """[(value name, data)] of the machine's signature policy."""
        result = []
        for line in self._lines("policy", subst):
            if line.strip():
                name, _, data = line.partition(": ")
                result.append((name.strip(), data))
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
        return [Box(kind, expand_text(caption), expand_text("\n".join(text)))
                for kind, caption, text in result]

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
    return text.replace("\\n", "\n").replace("\\r", "\r").replace("\\t", "\t")


GENERATOR = re.compile(r"\{(REPEAT (\d+) ((?:[^}\\]|\\.)*)|HEX ([0-9a-fA-F]+)|BYTES (\d+) (\d+))\}")


def noise(count, seed):
    """count bytes of deterministic noise (a linear congruential sequence)."""
    state = seed & 0xFFFFFFFF
    out = bytearray()
    for _ in range(count):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def expand(text):
    """The bytes of a text with its generators expanded (the rest encoded as UTF-8)."""
    out = bytearray()
    at = 0
    for m in GENERATOR.finditer(text):
        out += text[at:m.start()].encode("utf-8")
        if m.group(2) is not None:
            piece = unescape(m.group(3)).replace("\\}", "}")
            out += "".join(piece.replace("%i", str(i)) for i in range(int(m.group(2)))).encode("utf-8")
        elif m.group(4) is not None:
            out += bytes.fromhex(m.group(4))
        else:
            out += noise(int(m.group(5)), int(m.group(6)))
        at = m.end()
    out += text[at:].encode("utf-8")
    return bytes(out)


def expand_text(text):
    return expand(text).decode("utf-8", "replace")


def event_text(number, strings):
    """The text of event `number` as the system's log shows it: its text in events.def with %1 to
    %6 filled in from `strings` and %n a line break."""
    with open(EVENTS_DEF, encoding="utf-8") as f:
        for line in f:
            m = re.match(r'^KESTARIO_EVENT\((\d+), \w+, "(.*)"\)$', line.rstrip("\n"))
            if m and int(m.group(1)) == number:
                def fill(piece):
                    key = piece.group(1)
                    if key == "n":
                        return "\n"
                    index = int(key) - 1
                    return strings[index] if index < len(strings) else ""
                return re.sub(r"%([1-6n])", fill, m.group(2))
    raise KeyError("events.def has no event %d" % number)


POLICY_KEY = "SOFTWARE\\Policies\\Kestario\\Updater"


def write_registry(path, entries, policy=()):
    """The Linux registry file of App Paths entries (application -> (full path, PATH value)) and
    the values of the signature policy ([(name, data)])."""
    with open(path, "w", encoding="utf-8") as f:
        if policy:
            f.write("[%s]\n" % POLICY_KEY)
            for name, data in policy:
                f.write("%s=%s\n" % (name, data))
        for app, (full, value) in entries.items():
            f.write("[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\%s]\n" % app)
            if full is not None:
                f.write("@=%s\n" % full)
            if value is not None:
                f.write("PATH=%s\n" % value)


def lay_out(scenario, folder, subst):
    """Writes the scenario's files, its registry (registry.ini) and its script (updater.ini) into
    `folder`, as the Linux program finds them; returns the registry file's path, or None when the
    scenario has no registry."""
    for name, content, flags in scenario.files(subst):
        path = os.path.join(folder, name)
        if content is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.isdir(path) and not os.path.islink(path):
            os.rmdir(path)  # a file given after the folder it replaces
        if flags == "fifo":
            os.mkfifo(path)
            continue
        if flags == "link":
            os.symlink(content, path)
            continue
        with open(path, "wb") as f:
            f.write(b"#!/bin/sh\nexit 0\n" if flags == "program" else expand(content))
        if flags in ("x", "program"):
            os.chmod(path, 0o755)
        elif flags == "ro":
            os.chmod(path, 0o444)
        elif flags == "noread":
            os.chmod(path, 0o000)
        elif flags == "rw":
            os.chmod(path, 0o666)
    registry_file = None
    registry = scenario.registry(subst)
    policy = scenario.policy(subst)
    if registry or policy:
        registry_file = os.path.join(folder, "registry.ini")
        write_registry(registry_file, registry, policy)
    if scenario.has_script():
        with open(os.path.join(folder, "updater.ini"), "wb") as f:
            f.write(expand(scenario.script(subst)))
    return registry_file


def set_up(scenario, folder, subst):
    """Runs the scenario's setup in its laid-out folder; returns why the scenario cannot run here
    (its setup needs root, or failed), or None when it can."""
    if "root" in scenario.requires() and os.geteuid() != 0:
        return "its setup needs root"
    commands = scenario._lines("setup", subst)
    if commands:
        proc = subprocess.run(["bash", "-ec", "\n".join(commands)], cwd=folder,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=60)
        if proc.returncode != 0:
            output = proc.stdout.decode("utf-8", "replace").strip().splitlines()
            return "its setup failed here: %s" % (output[-1] if output else
                                                  "exit status %d" % proc.returncode)
    return None


def clean_up(scenario, folder, subst):
    """Runs the scenario's cleanup in its folder (a failure is ignored)."""
    commands = scenario._lines("cleanup", subst)
    if commands:
        subprocess.run(["bash", "-c", "\n".join(commands)], cwd=folder, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def load_all(folder):
    return [Scenario(os.path.join(folder, name))
            for name in sorted(os.listdir(folder)) if name.endswith(".scenario")]


# A line of the run log: the local time with its offset from UTC, the computer, the process id,
# the event, and the frame (" #" and the number of bytes before it).
LOG_HEAD = re.compile(r"^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)[+-]\d\d:\d\d (\S+) (\d+) (.*) #(\d+)$",
                      re.S)


def log_line_problem(raw):
    """Why `raw` (the bytes of one line, without its line end) is no whole line of the run log,
    or None. The frame must count the bytes before it: a line cut short, or two glued together,
    fails it."""
    m = LOG_HEAD.match(raw.decode("utf-8", "replace"))
    if not m:
        return "a log line without its head or frame: %r" % raw
    frame = raw.rfind(b" #")
    if int(m.group(10)) != frame or m.group(10) != str(frame):
        return "a log line whose frame is not its length (%d): %r" % (frame, raw)
    if b"\r" in raw or b"\n" in raw:
        return "a log line with a raw line break: %r" % raw
    return None


def check_log(scenario, folder, subst, computer, encoding="utf-8", line_end="\n"):
    """Problems with the run log after the runs, as a list of texts."""
    expected = scenario.log(subst)
    if expected is None:
        return []
    name, events = expected
    path = os.path.join(folder, name)
    if events is None:
        return ["%s should not exist" % name] if os.path.lexists(path) else []
    if not os.path.isfile(path):
        return ["the log %s is missing" % name]
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(line_end.encode()):
        return ["the log does not end with a line end: %r" % data[-40:]]
    problems = []
    seen = []
    for raw in data[:-len(line_end)].split(line_end.encode()):
        line = raw.decode(encoding, "replace")
        problem = log_line_problem(raw)
        if problem:
            problems.append(problem)
            continue
        m = LOG_HEAD.match(line)
        if m.group(7) != computer:
            problems.append("computer %r, expected %r: %r" % (m.group(7), computer, line))
        seen.append(m.group(9))
    if events == ["*"]:
        return problems
    if len(seen) != len(events) or not all(
            re.fullmatch(re.escape(e).replace(re.escape("{*}"), ".*?"), w, re.S)
            for e, w in zip(events, seen)):
        problems.append("log events differ:\n    expected %r\n    written  %r" % (events, seen))
    return problems


def check_report(scenario, folder, subst, reporter):
    """Problems with what the command `reporter` (a list) prints for the run log, as a list."""
    if "report" not in scenario.sections:
        return []
    name, events = scenario.log(subst)
    starts = [e for e in events if e.startswith("start: ")]
    m = re.search(r' user "(.*)"$', starts[0]) if starts else None
    user = m.group(1) if m else "-"
    expected = [line.replace("{LOGUSER}", user) for line in scenario._lines("report", subst)]
    proc = subprocess.run(reporter + [os.path.join(folder, name)], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    if proc.returncode != 0 or proc.stderr:
        return ["%s ended with %d: %r" % (reporter[0], proc.returncode, proc.stderr)]
    text = re.sub(r"\d{4}-\d\d-\d\d[ T]\d\d:\d\d:\d\d(?: ?[+-]\d\d:\d\d)?", "{TIME}",
                  proc.stdout.decode("utf-8"))
    shown = [re.sub(r" {2,}", " ", line).rstrip() for line in text.rstrip("\n").split("\n")]
    wanted = [re.sub(r" {2,}", " ", line).rstrip() for line in expected]
    if shown != wanted:
        return ["the report differs:\n    expected %r\n    printed  %r" % (wanted, shown)]
    return []


def check_files(scenario, folder, subst):
    """Problems with the files after a run, as a list of texts."""
    problems = []
    for name, expected in scenario.after(subst):
        path = os.path.join(folder, name)
        if expected is None:
            if "*" in name or "?" in name:
                matches = glob.glob(glob.escape(folder) + "/" + name)
                if matches:
                    problems.append("%s should match nothing: %s" % (name, ", ".join(
                        os.path.relpath(m, folder) for m in matches)))
            elif os.path.lexists(path):
                problems.append("%s should not exist" % name)
        elif not os.path.lexists(path):
            problems.append("%s is missing" % name)
        elif expected != "*":
            with open(path, "rb") as f:
                actual = f.read()
            if actual != expand(expected):
                shown = actual if len(actual) <= 200 else actual[:200] + b"..."
                problems.append("%s holds %r, expected %r" % (name, shown, expected))
    return problems
