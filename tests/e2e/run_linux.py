#!/usr/bin/env python3
"""Runs end-to-end scenarios against the real Linux program.

usage: run_linux.py PROGRAM REGISTRY_PROGRAM SCENARIO_FOLDER [NAME ...]

Each scenario runs in a fresh temporary folder holding a copy of the program and its script.
PROGRAM is updater.run; REGISTRY_PROGRAM is the same program built to read its registry file from
beside itself and keep its rollback journals there, used for scenarios with a registry section or
a script that may keep a journal. A scenario whose "requires" cannot be met here (such as "nonroot"
when running as root, or "root" for another user) is skipped, and so is one whose "user" this
runner cannot become (it must run as root) or whose setup fails. The "limits" of a scenario are
set on the program's process only, and so is its user. A scenario with an "event" runs the program
in a private mount namespace whose /dev/log is a syslog socket of this runner's (PrivateSyslog;
root only, skipped otherwise), so that the test reads the event and the system's own log never
gets it. Prints "N passed, N failed".
"""

import os
import pwd
import re
import resource
import select
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario as sc  # noqa: E402

BOX_HEADER = re.compile(r"^\[([^\n]*)\] (ERROR|INFORMATION|WARNING|QUESTION)\n")
PROMPT = re.compile(r"\n\((OK|Yes/No)\) ")
# The names that <Computer> and <User> take here.
COMPUTER = socket.gethostname()
USER = pwd.getpwuid(os.getuid()).pw_name
# How long one run may take before it counts as hanging.
TIMEOUT = int(os.environ.get("KESTARIO_E2E_TIMEOUT", "120"))


def parse_boxes(stderr):
    """The boxes printed on the terminal, in order; the rest of the output is returned too."""
    boxes = []
    rest = stderr
    while True:
        m = BOX_HEADER.match(rest)
        if not m:
            return boxes, rest
        caption, kind = m.group(1), m.group(2)
        body = rest[m.end():]
        p = PROMPT.search(body)
        if not p:
            return boxes, rest
        boxes.append(sc.Box(kind, caption, body[:p.start()]))
        rest = body[p.end():]
        prompt = p.group(0)[1:]
        while rest.startswith(prompt):  # the prompt repeated after an answer it did not take
            rest = rest[len(prompt):]


# Run by `sh -c` inside `unshare -m`: the real /dev stays reachable below the socket's folder, a
# fresh /dev holds the few devices a program may open and "log", a link to the socket.
PRIVATE_DEV = """set -e
d=$1; shift
mkdir "$d/dev"
mount --rbind /dev "$d/dev"
mount -t tmpfs -o mode=0755,size=64k kestario-dev /dev
for n in null zero full random urandom tty; do
  if [ -e "$d/dev/$n" ]; then : > "/dev/$n"; mount --bind "$d/dev/$n" "/dev/$n"; fi
done
ln -s /proc/self/fd /dev/fd
ln -s "$d/log" /dev/log
exec "$@"
"""
SYSLOG_LINE = re.compile(r"^<(\d+)>\w{3} [ \d]\d \d\d:\d\d:\d\d kestario-updater\[(\d+)\]: (.*)$",
                         re.S)


class PrivateSyslog:
    """A syslog socket of the test's own, which a program started by wrap() reaches as /dev/log.

    `kind` is what the socket is like ("=== syslog" of a scenario): "read" (default) a datagram
    socket that takes each message; "full" a datagram socket that never reads, its queue filled
    before the run (a daemon that has stopped); "stream" a stream socket whose reader takes a
    record to end at a line feed (or a NUL)."""

    @staticmethod
    def available():
        return os.geteuid() == 0 and shutil.which("unshare") is not None

    def __init__(self, kind="read"):
        self.kind = kind
        self.folder = tempfile.mkdtemp(prefix="kestario-syslog-")
        path = os.path.join(self.folder, "log")
        stream = kind == "stream"
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM if stream else socket.SOCK_DGRAM)
        self.socket.bind(path)
        self.received = b""
        self.fillers = 0
        if stream:
            self.socket.listen(8)
            self.done = threading.Event()
            self.thread = threading.Thread(target=self._accept)
            self.thread.start()
        else:
            self.socket.setblocking(False)
        if kind == "full":
            filler = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            filler.setblocking(False)
            try:
                while True:
                    filler.sendto(b"filler", path)
                    self.fillers += 1
            except BlockingIOError:
                pass
            filler.close()

    def _accept(self):
        self.socket.settimeout(0.05)
        while not self.done.is_set():
            try:
                connection, _ = self.socket.accept()
            except socket.timeout:
                continue
            connection.settimeout(5)
            with connection:
                while True:
                    data = connection.recv(1 << 16)
                    if not data:
                        break
                    self.received += data

    def wrap(self, argv):
        return ["unshare", "-m", "sh", "-c", PRIVATE_DEV, "sh", self.folder] + argv

    @staticmethod
    def _parse(data):
        m = SYSLOG_LINE.match(data.decode("utf-8", "replace"))
        return (int(m.group(1)), int(m.group(2)), m.group(3)) if m else (
            None, None, data.decode("utf-8", "replace"))

    def messages(self):
        """The messages received so far, as (priority, pid, text)."""
        if self.kind == "stream":
            self.done.set()
            self.thread.join()
            records = re.split(rb"[\n\0]", self.received)
            return [self._parse(record) for record in records if record]
        received = []
        deadline = time.time() + 1
        while True:
            try:
                data = self.socket.recv(1 << 20)
            except BlockingIOError:
                if received or time.time() > deadline or self.kind == "full":
                    return received
                time.sleep(0.02)
                continue
            if data == b"filler":
                continue
            received.append(self._parse(data))

    def close(self):
        if self.kind == "stream" and not self.done.is_set():
            self.done.set()
            self.thread.join()
        self.socket.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def run_signalled(argv, number, **options):
    """subprocess.run with no answers: signal `number` is sent once the first box asks for one."""
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, **options)
    stderr = b""
    sent = False
    deadline = time.time() + TIMEOUT
    while True:
        ready, _, _ = select.select([proc.stderr], [], [], 0.1)
        if ready:
            chunk = os.read(proc.stderr.fileno(), 65536)
            if not chunk:
                break
            stderr += chunk
            if not sent and PROMPT.search(stderr.decode("utf-8", "replace")):
                proc.send_signal(number)
                sent = True
        if time.time() > deadline:
            proc.kill()
            proc.wait()
            raise subprocess.TimeoutExpired(argv, TIMEOUT)
    stdout = proc.stdout.read()
    proc.stdin.close()
    proc.wait()
    return subprocess.CompletedProcess(argv, proc.returncode, stdout, stderr)


def check_event(scenario, subst, syslog):
    """Problems with the event the runs wrote (one per run), as a list of texts. The text reaches
    syslog with its line breaks written as \\n (and \\r), as one record."""
    kind, number, strings = scenario.event(subst)
    text = sc.event_text(number, strings).replace("\r", "\\r").replace("\n", "\\n")
    want = (8 + sc.EVENT_TYPES[kind], text)  # facility LOG_USER
    got = [(priority, text) for priority, _, text in syslog.messages()]
    expected = [] if syslog.kind == "full" else [want] * scenario.runs()
    if got != expected:
        return ["events differ:\n    expected %r\n    received %r" % (expected, got)]
    return []


def user_problem(name):
    """Why a program cannot run here as the user `name`, or None when it can."""
    if os.geteuid() != 0:
        return "runs as the user %s, which needs root" % name
    try:
        pwd.getpwnam(name)
    except KeyError:
        return "runs as the user %s, who does not exist here" % name
    folder = os.path.realpath(tempfile.gettempdir())
    while folder != "/":
        if not os.stat(folder).st_mode & stat.S_IXOTH:
            return "runs as the user %s, whom %s does not let through" % (name, folder)
        folder = os.path.dirname(folder)
    return None


def becoming(name, folder):
    """Opens `folder` (a scenario's) to every user for reading and returns a function that makes
    the calling process the user `name`, with that user's group and no other."""
    entry = pwd.getpwnam(name)
    os.chmod(folder, 0o755)

    def become():
        os.setgroups([])
        os.setgid(entry.pw_gid)
        os.setuid(entry.pw_uid)
    return become


def run(scenario, program, registry_program):
    """The problems of the scenario's run (a list of texts), and why it cannot run here (None
    when it ran)."""
    folder = tempfile.mkdtemp(prefix="kestario-e2e-")
    syslog = None
    user = scenario.user()
    subst = sc.Scenario.substituter(folder, "/", "run", COMPUTER, user or USER)
    try:
        registry_file = sc.lay_out(scenario, folder, subst)
        become = becoming(user, folder) if user else None
        exe = os.path.join(folder, "updater.run")
        own = registry_file or scenario.keeps_journal()
        shutil.copy2(registry_program if own else program, exe)
        reason = sc.set_up(scenario, folder, subst)
        if reason is not None:
            return [], reason
        answers = "".join(a + "\n" for a in scenario.answers(subst))
        limits = scenario.limits()

        def set_limits():
            if "fsize" in limits:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limits["fsize"], limits["fsize"]))
            if "memory" in limits:
                resource.setrlimit(resource.RLIMIT_AS, (limits["memory"], limits["memory"]))
            if become:
                become()
            if scenario.closed_stderr():
                os.close(2)

        problems = []
        boxes, rest = [], ""
        syslog = PrivateSyslog(scenario.syslog()) if scenario.event(subst) is not None else None
        for _ in range(scenario.runs()):
            broken = None
            if scenario.broken_stderr() or scenario.broken_stdout():
                reader, broken = os.pipe()
                os.close(reader)
            pipe_reader = None
            if scenario.reader():
                pipe_reader = PipeReader(os.path.join(folder, scenario.reader()))
            argv = [exe] + scenario.args(subst)
            began = time.time()
            signal = scenario.signal()
            environment = None
            if signal and signal[1] == "copy":
                argv = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=copy_file_range",
                        "-e", "inject=copy_file_range:signal=%d:when=1" % signal[0]] + argv
                # A sanitizer build's leak check does not work under ptrace.
                environment = dict(os.environ, ASAN_OPTIONS=":".join(
                    filter(None, [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0"])))
            try:
                if signal and signal[1] == "box":
                    proc = run_signalled(syslog.wrap(argv) if syslog else argv, signal[0],
                                         cwd=folder, preexec_fn=set_limits)
                else:
                    proc = subprocess.run(
                        syslog.wrap(argv) if syslog else argv, cwd=folder, input=answers.encode(),
                        stdout=broken if scenario.broken_stdout() else subprocess.PIPE,
                        stderr=broken if scenario.broken_stderr() else subprocess.PIPE,
                        timeout=TIMEOUT, preexec_fn=set_limits, env=environment)
            except subprocess.TimeoutExpired:
                return problems + ["the run did not end within %d s" % TIMEOUT], None
            finally:
                if pipe_reader is not None:
                    pipe_reader.stop()
                if broken is not None:
                    os.close(broken)
            if syslog and syslog.kind == "full" and time.time() - began > 5:
                problems.append("with a syslog that never reads the run took %.1f s" %
                                (time.time() - began))
            stderr = proc.stderr if proc.stderr is not None else b""
            shown, left = parse_boxes(stderr.decode("utf-8", "replace"))
            boxes += shown
            rest += left
            # A Linux parent gets the low 8 bits of the code (1603 arrives as 67).
            if scenario.exit_signal():
                if proc.returncode != -scenario.exit_signal():
                    problems.append("exit status %d, expected the end by signal %d" % (
                        proc.returncode, scenario.exit_signal()))
            elif proc.returncode != scenario.exit_code() & 0xFF:
                problems.append("exit code %d, expected %d (the low 8 bits of %d)" % (
                    proc.returncode, scenario.exit_code() & 0xFF, scenario.exit_code()))
        expected = scenario.boxes(subst)
        if boxes != expected:
            problems.append("boxes differ:\n  expected %r\n  shown    %r" % (expected, boxes))
        if rest:
            problems.append("unexpected output after the boxes: %r" % rest)
        problems += sc.check_files(scenario, folder, subst)
        problems += sc.check_log(scenario, folder, subst, COMPUTER)
        problems += sc.check_report(scenario, folder, subst,
                                    [os.path.join(os.path.dirname(program), "updater-report")])
        if syslog:
            problems += check_event(scenario, subst, syslog)
        return problems, None
    finally:
        if syslog:
            syslog.close()
        sc.clean_up(scenario, folder, subst)
        remove_folder(folder)


class PipeReader:
    """A reader of a named pipe during a run: it opens the pipe at once (without waiting for a
    writer), reads until it has seen a line end or is stopped, then closes it and goes away."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._read)
        self.thread.start()

    def _read(self):
        try:
            while not self.done.is_set():
                ready, _, _ = select.select([self.fd], [], [], 0.05)
                data = os.read(self.fd, 4096) if ready else b""
                if b"\n" in data:
                    return
                if not data:
                    time.sleep(0.05)  # no writer yet, or none any more
        finally:
            os.close(self.fd)

    def stop(self):
        self.done.set()
        self.thread.join()


def remove_folder(folder):
    """Removes a scenario's folder, first giving back the rights a scenario may have taken away."""
    for root, dirs, files in os.walk(folder):
        for d in dirs:
            os.chmod(os.path.join(root, d), 0o755)
        for f in files:
            p = os.path.join(root, f)
            if not os.path.islink(p):
                os.chmod(p, stat.S_IRUSR | stat.S_IWUSR)
    shutil.rmtree(folder, ignore_errors=True)


def sanitized(program):
    """Whether the program is built with AddressSanitizer."""
    with open(program, "rb") as f:
        return b"__asan_init" in f.read()


def main():
    program, registry_program, folder = sys.argv[1:4]
    names = set(sys.argv[4:])
    passed = failed = 0
    for scenario in sc.load_all(folder):
        if names and scenario.name not in names:
            continue
        if not scenario.runs_on("linux"):
            continue
        if "memory" in scenario.limits() and sanitized(program):
            print("skip %s (limits memory; a sanitizer build needs more address space)"
                  % scenario.name)
            continue
        if "event" in scenario.sections and not PrivateSyslog.available():
            print("skip %s (reads its event from a syslog socket of its own: needs root and "
                  "unshare)" % scenario.name)
            continue
        if "nonroot" in scenario.requires() and os.geteuid() == 0:
            print("skip %s (needs a user whom file permissions bind; running as root)"
                  % scenario.name)
            continue
        if (scenario.signal() or (None, None))[1] == "copy" and shutil.which("strace") is None:
            print("skip %s (sends its signal through strace, which is missing)" % scenario.name)
            continue
        if scenario.user() and user_problem(scenario.user()):
            print("skip %s (%s)" % (scenario.name, user_problem(scenario.user())))
            continue
        problems, reason = run(scenario, program, registry_program)
        if reason is not None:
            print("skip %s (%s)" % (scenario.name, reason))
        elif problems:
            failed += 1
            print("FAIL %s\n  %s" % (scenario.name, "\n  ".join(problems)))
        else:
            passed += 1
            print("ok   %s" % scenario.name)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
