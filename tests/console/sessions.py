#!/usr/bin/env python3
"""Line input and the interactive debugger at the console, through a pseudo-terminal of 80x24
(TERM=xterm-256color, LANG=C.UTF-8).

    sessions.py OKA

Each session starts oka without arguments (or with --catch and a script), types lines at its prompts
and waits for what the screen must show next (escape sequences and carriage returns left out); a
session fails when that does not come within its patience, and every session ends within it. The terminal answers the line editor's
question for the cursor's position."""
import os
import pty
import shutil
import re
import select
import signal
import struct
import sys
import termios
import fcntl
import tempfile
import time

OKA = os.path.abspath(sys.argv[1])
PATIENCE = 10  # seconds for each thing awaited

CSI = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07")


class Session:
    # `script`: the text of a script that oka runs with --catch before its prompt shows.
    def __init__(self, script=None):
        self.appdata = tempfile.mkdtemp()  # the cache folder, where the console keeps its settings
        arguments = [OKA]
        if script is not None:
            path = os.path.join(self.appdata, "script.oka")
            with open(path, "w") as file:
                file.write(script)
            arguments += ["--catch", path]
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            env = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8", APPDATA=self.appdata)
            os.execve(OKA, arguments, env)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.seen = b""  # the text shown so far, escape sequences left out
        self.read_to = 0  # what the waits have read up to

    def pump(self, seconds):
        ready, _, _ = select.select([self.fd], [], [], seconds)
        if not ready:
            return
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            data = b""
        if not data:
            raise EOFError
        if b"\x1b[6n" in data:
            os.write(self.fd, b"\x1b[24;1R")
        self.seen += CSI.sub(b"", data).replace(b"\r", b"")

    def wait_for(self, text):
        deadline = time.monotonic() + PATIENCE
        needle = text.encode()
        while True:
            at = self.seen.find(needle, self.read_to)
            if at >= 0:
                self.read_to = at + len(needle)
                return
            if time.monotonic() > deadline:
                raise AssertionError("did not see %r; the screen shows:\n%s" % (text, self.seen[self.read_to:].decode(errors="replace")))
            try:
                self.pump(0.1)
            except EOFError:
                raise AssertionError("oka ended before %r; it showed:\n%s" % (text, self.seen[self.read_to:].decode(errors="replace")))

    # Waits until the line editor reads keys: the terminal is in raw mode.
    def wait_for_editor(self):
        deadline = time.monotonic() + PATIENCE
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            if time.monotonic() > deadline:
                raise AssertionError("the line editor did not start")
            self.pump(0.05)

    # Types a line and Enter, and waits for its echo (stars for a hidden line): what shows next comes
    # after it.
    def type(self, line, hidden=False):
        os.write(self.fd, line.encode() + b"\r")
        self.wait_for("*" * len(line) if hidden else line)

    def exit_status(self):
        deadline = time.monotonic() + PATIENCE
        while time.monotonic() < deadline:
            try:
                self.pump(0.1)
            except EOFError:
                pass
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.pid = 0
                return os.waitstatus_to_exitcode(status)
        raise AssertionError("oka did not end")

    def close(self):
        if self.pid:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)
        shutil.rmtree(self.appdata, ignore_errors=True)


class Hidden(str):
    """A line typed at a prompt that masks it."""


# Each session: the lines typed, each at the prompt the line before it names, and what must show after
# it, in order. ">> " is the console's prompt, "debug> " the debugger's; None stands for an empty prompt
# (the line editor's raw mode tells that it waits). A session named in SCRIPTS starts with that script
# run with --catch.
SCRIPTS = {
    "stays after a script with --catch": 'Oka [] x: 6 * 7 print "script done"',
}
SESSIONS = {
    "steps, inspects and runs on": [
        (">> ", "x: 42", ["== 42"]),
        (">> ", "debug [1 + 2]", ["-----> EVAL 1", "Input: 1 + 2", "-empty stack-"]),
        ("debug> ", "", ["-----> PUSH 1", "Stack: 1"]),
        ("debug> ", "n", ["-----> EVAL +", "Input: + 2"]),
        ("debug> ", ":x", ["== 42"]),
        ("debug> ", ":system/tools/options/debug/active?", ["== true"]),
        ("debug> ", "foo", ["Unknown command!"]),
        ("debug> ", "w x", []),
        ("debug> ", "next", ["-----> OPEN +", "Watch: x: 42"]),
        ("debug> ", "-s", []),
        ("debug> ", "", ["-----> EVAL 2", "Input: 2", "Watch: x: 42"]),
        ("debug> ", "-w x", []),
        ("debug> ", "", ["-----> PUSH 2"]),
        ("debug> ", "", ["-----> CALL + (op!)"]),
        # the lines typed at the debugger join the console's history while it runs
        ("debug> ", ":system/console/history", ['== [":system/console/history" "-w x" "-s" "next" "w x" "foo" ":system/tools/options/debug/active?" ":x" "n" "debug [1 + 2]" "x: 42"]']),
        ("debug> ", "c", []),
        (">> ", "system/tools/options/debug/show-stack?", ["== true"]),
        # ... and are gone once it ends: the console's own lines stay
        (">> ", "reduce [length? system/console/history last system/console/history]", ['== [4 "x: 42"]']),
    ],
    "asks": [
        (">> ", 'x: ask "Name? "', []),
        ("Name? ", "Ada", ['== "Ada"']),
        # the line joins the console's history, as the console's own lines do; a hidden one shows
        # stars and does not
        (">> ", "length? system/console/history", ["== 3"]),
        (">> ", 'ask/hide "Secret: "', []),
        ("Secret: ", Hidden("pw"), ['== "pw"']),
        (">> ", "length? system/console/history", ["== 5"]),
        # ask/history adds to the caller's block instead
        (">> ", 'h: copy [] ask/history "? " h', []),
        ("? ", "mine", ['== "mine"']),
        (">> ", "reduce [h length? system/console/history]", ['== [["mine"] 7]']),
        (">> ", "input", []),
        (None, "typed", ['== "typed"']),
    ],
    "continues an open input and fits results to the width": [
        (">> ", "[1", []),
        ("[    ", "2]", ["== [1\n2]"]),
        (">> ", "{a", []),
        ("{    ", "}", ['== "a^/"']),
        (">> ", "append/dup copy [] 1 50", ["== [" + "1 " * 36 + "..."]),
        (">> ", "loop 3 [halt]", ["(halted)"]),
        (">> ", "pwd", ["%/"]),
        (">> ", "ls", []),
    ],
    # the script's words are there, and no banner came before the prompt
    "stays after a script with --catch": [
        (">> ", "x", ["== 42"]),
    ],
    "halts": [
        (">> ", "debug [print 1]", ["-----> EVAL print"]),
        # q stops the evaluation and returns to the console
        ("debug> ", "q", ["(halted)"]),
    ],
}


def run(name, steps):
    session = Session(SCRIPTS.get(name))
    try:
        if name in SCRIPTS:
            session.wait_for("script done")
        for prompt, line, shown in steps:
            if prompt is None:
                session.wait_for_editor()
            else:
                session.wait_for(prompt)
            session.type(line, isinstance(line, Hidden))
            for text in shown:
                session.wait_for(text)
        session.wait_for(">> ")
        session.type("quit")
        assert session.exit_status() == 0
        assert name not in SCRIPTS or b"--== Oka" not in session.seen, "the banner showed after the script"
        # quit saves the history, its own line first
        with open(os.path.join(session.appdata, "Oka", "Oka-Console", "console-cfg.oka")) as settings:
            assert 'history: ["quit"' in settings.read(), "quit did not save the history"
    finally:
        session.close()


failed = 0
for name, steps in SESSIONS.items():
    try:
        run(name, steps)
    except AssertionError as error:
        failed += 1
        print("%s: %s" % (name, error))
sys.exit(1 if failed else 0)
