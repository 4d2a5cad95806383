#!/usr/bin/env python3
"""Line input, completion and the interactive debugger at the console, through a pseudo-terminal of
80x24 (TERM=xterm-256color, LANG=C.UTF-8), and the console following a change of the window's size.

    sessions.py OKA

Each session starts oka without arguments (or with --catch and a script), types lines (or keys) at
its prompts and waits for what the screen must show next: text (escape sequences and carriage
returns left out), or rows and a cursor as a small terminal model draws them. A session fails when that does not come within its
patience, and every session ends within it. The terminal answers the line editor's question for the
cursor's position."""
import os
import platform
import pty
import shutil
import re
import select
import signal
import struct
import sys
import termios
import fcntl
import codecs
import json
import tempfile
import time
import unicodedata

OKA = os.path.abspath(sys.argv[1])
# Seconds for each thing awaited: only a failing wait takes them all. The collector's stress mode, and
# the sanitizer build on a busy machine, make a listing such as help's take many seconds.
PATIENCE = 90 if os.environ.get("OKA_GC_STRESS") else 30

CSI = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07")
ERASE_BELOW = b"\x1b[J"  # what the line editor writes before it draws prompt and line anew
SYS_PPOLL = {"x86_64": 271, "aarch64": 73}.get(platform.machine())


class Screen:
    """What the terminal shows: the cells of its rows and its cursor. It understands what the console
    writes: characters (a wide one that does not fit in the row starts the next, a character in the
    last column leaves the cursor there until the next one), CR, LF, cursor moves (CSI A, B, C, D),
    erasing (CSI J, K); a title and other sequences are skipped. A change of its size rewraps the rows
    that wrapped into one another, the cursor staying on its character, as terminals that reflow do."""

    SEQUENCE = re.compile(r"\x1b(?:\[([0-9;?]*)([A-Za-z])|\][^\x07]*\x07|.)", re.S)

    def __init__(self, columns=80, rows=24):
        self.columns, self.rows = columns, rows
        self.cells = [[" "] * columns for _ in range(rows)]
        self.wrapped = [False] * rows  # the row goes on in the next one
        self.row = self.column = 0
        self.pending = False  # the last column was written: the next character wraps

    def resize(self, columns, rows):
        lines, cursor = [], None  # each line: its cells; cursor: (line, offset)
        for r in range(self.rows):
            if r == 0 or not self.wrapped[r - 1]:
                lines.append([])
            if r == self.row:
                cursor = (len(lines) - 1, len(lines[-1]) + self.column + (1 if self.pending else 0))
            lines[-1] += self.cells[r] if self.wrapped[r] else list(self.text(r))
        cells, wrapped = [], []
        for number, line in enumerate(lines):
            pieces = [line[at:at + columns] for at in range(0, len(line), columns)] or [[]]
            if number == cursor[0]:
                offset = cursor[1]
                self.row, self.column = len(cells) + offset // columns, offset % columns
                if self.column == 0 and offset > 0 and offset // columns >= len(pieces):
                    self.row, self.column = self.row - 1, columns - 1
            cells += [piece + [" "] * (columns - len(piece)) for piece in pieces]
            wrapped += [True] * (len(pieces) - 1) + [False]
        while len(cells) > max(rows, self.row + 1) and not "".join(cells[-1]).strip():
            del cells[-1], wrapped[-1]
        drop = max(0, len(cells) - rows)
        self.cells = cells[drop:] + [[" "] * columns for _ in range(rows - len(cells) + drop)]
        self.wrapped = wrapped[drop:] + [False] * (rows - len(cells) + drop)
        self.row -= drop
        self.columns, self.rows, self.pending = columns, rows, False

    def feed(self, text):
        at = 0
        for match in self.SEQUENCE.finditer(text):
            self.characters(text[at:match.start()])
            if match.group(2):
                self.csi(match.group(2), match.group(1))
            at = match.end()
        self.characters(text[at:])

    def characters(self, text):
        for c in text:
            if c == "\r":
                self.pending, self.column = False, 0
            elif c == "\n":
                self.pending = False
                self.line_feed()
            elif c >= " ":
                self.put(c)

    def line_feed(self):
        if self.row + 1 < self.rows:
            self.row += 1
        else:
            del self.cells[0], self.wrapped[0]
            self.cells.append([" "] * self.columns)
            self.wrapped.append(False)

    def put(self, c):
        width = 2 if unicodedata.east_asian_width(c) in "WF" else 1
        if self.pending or (width == 2 and self.column == self.columns - 1):
            self.wrapped[self.row] = True
            self.column = 0
            self.line_feed()
        self.pending = False
        self.cells[self.row][self.column] = c
        if width == 2:
            self.cells[self.row][self.column + 1] = ""
        self.column += width
        if self.column >= self.columns:
            self.column, self.pending = self.columns - 1, True

    def csi(self, final, parameters):
        self.pending = False
        n = int(parameters) if parameters.isdigit() else 0
        count = max(n, 1)
        if final == "A":
            self.row = max(0, self.row - count)
        elif final == "B":
            self.row = min(self.rows - 1, self.row + count)
        elif final == "C":
            self.column = min(self.columns - 1, self.column + count)
        elif final == "D":
            self.column = max(0, self.column - count)
        elif final == "K":
            self.erase(self.row, self.column, self.row + 1)
        elif final == "J" and n == 0:
            self.erase(self.row, self.column, self.rows)

    def erase(self, row, column, end_row):
        for r in range(row, end_row):
            self.wrapped[r] = False
            for c in range(column if r == row else 0, self.columns):
                self.cells[r][c] = " "

    def text(self, row):
        return "".join(self.cells[row]).rstrip(" ")


class Shows:
    """What the screen must show: the rows that end with the cursor's row, and the cursor's column."""

    def __init__(self, rows, column):
        self.rows, self.column = rows, column

    def seen_on(self, screen):
        first = screen.row - len(self.rows) + 1
        return first >= 0 and screen.column == self.column and \
            [screen.text(r) for r in range(first, screen.row + 1)] == self.rows

    def __repr__(self):
        return "rows %r with the cursor in column %d" % (self.rows, self.column)


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
        self.output = b""  # all that oka wrote, escape sequences and all
        self.read_to = 0  # what the waits have read up to
        self.screen = Screen()
        self.decoder = codecs.getincrementaldecoder("utf-8")(errors="replace")

    # Reads what oka wrote within `seconds`; true when anything came.
    def pump(self, seconds):
        ready, _, _ = select.select([self.fd], [], [], seconds)
        if not ready:
            return False
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            data = b""
        if not data:
            raise EOFError
        for asked in data.split(b"\x1b[6n")[:-1]:
            self.screen.feed(self.decoder.decode(asked))
            os.write(self.fd, b"\x1b[%d;%dR" % (self.screen.row + 1, self.screen.column + 1))
        self.screen.feed(self.decoder.decode(data.rsplit(b"\x1b[6n", 1)[-1]))
        self.seen += CSI.sub(b"", data).replace(b"\r", b"")
        self.output += data
        return True

    def wait_until(self, shows):
        deadline = time.monotonic() + PATIENCE
        while not shows.seen_on(self.screen):
            if time.monotonic() > deadline:
                rows = [self.screen.text(r) for r in range(self.screen.rows)]
                raise AssertionError("did not see %r; the screen shows, the cursor at %d,%d:\n%s" % (
                    shows, self.screen.row, self.screen.column, "\n".join(rows)))
            try:
                self.pump(0.1)
            except EOFError:
                raise AssertionError("oka ended before showing %r" % shows)

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

    # Gives the window another size while the line editor waits for a key, and waits until it has drawn
    # prompt and line anew at that size and waits again: only then has it read the size, so that keys
    # typed next are taken at it. Output that grows is not proof enough: what oka wrote before the
    # resize may still be on its way, and the signal of the resize may be taken late on a busy machine.
    def resize(self, size):
        self.settle()
        while self.pump(0.05):
            pass  # the rest of what oka wrote before it settled
        erased = self.output.count(ERASE_BELOW)
        self.screen.resize(size.columns, size.rows)
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", size.rows, size.columns, 0, 0))
        deadline = time.monotonic() + PATIENCE
        while self.output.count(ERASE_BELOW) == erased:
            if time.monotonic() > deadline:
                raise AssertionError("nothing was drawn anew at %dx%d" % (size.columns, size.rows))
            self.pump(0.1)
        self.settle()

    # Waits until oka has read every key typed and waits in the line editor for the next one, watching
    # the window's size with it (a ppoll of two descriptors: the terminal and the pipe that a resize
    # writes to). Where /proc does not show that, until the line editor has the terminal in raw mode.
    def settle(self):
        deadline = time.monotonic() + PATIENCE
        while True:
            waiting = self.waits_for_key()
            if waiting is None:
                return self.wait_for_editor()
            if waiting and self.keys_pending() == 0:
                return
            if time.monotonic() > deadline:
                raise AssertionError("the line editor did not come to wait for a key")
            try:
                self.pump(0.01)
            except EOFError:
                raise AssertionError("oka ended while the line editor was awaited")

    # True when no thread of oka runs and one waits for a key with the window's size watched; None when
    # that cannot be seen.
    def waits_for_key(self):
        if SYS_PPOLL is None:
            return None
        calls = []
        try:
            for task in os.listdir("/proc/%d/task" % self.pid):
                try:
                    with open("/proc/%d/task/%s/syscall" % (self.pid, task)) as file:
                        calls.append(file.read().split())
                except FileNotFoundError:
                    pass  # a thread that has just ended
        except OSError:
            return None
        if any(not call or call[0] == "running" for call in calls):
            return False
        return any(call[0] == str(SYS_PPOLL) and len(call) > 2 and int(call[2], 16) == 2 for call in calls)

    # The bytes typed that oka has not read yet.
    def keys_pending(self):
        # Opened only for the question: oka's end must still end the terminal.
        slave = os.open(os.readlink("/proc/%d/fd/0" % self.pid), os.O_RDWR | os.O_NOCTTY)
        try:
            return struct.unpack("i", fcntl.ioctl(slave, termios.FIONREAD, struct.pack("i", 0)))[0]
        finally:
            os.close(slave)

    # Waits until the line editor reads keys: the terminal is in raw mode; or, with `editing` false,
    # until it has left it (an evaluation runs).
    def wait_for_editor(self, editing=True):
        deadline = time.monotonic() + PATIENCE
        while bool(termios.tcgetattr(self.fd)[3] & termios.ICANON) == editing:
            if time.monotonic() > deadline:
                raise AssertionError("the line editor did not %s" % ("start" if editing else "end"))
            self.pump(0.05)

    # Types a line and Enter, and waits for its echo (stars for a hidden line): what shows next comes
    # after it. Keys are typed as they are, and their echo is not awaited.
    def type(self, line):
        if isinstance(line, Size):
            self.resize(line)
            return
        if isinstance(line, Keys):
            os.write(self.fd, line.encode())
            return
        os.write(self.fd, line.encode() + b"\r")
        self.wait_for("*" * len(line) if isinstance(line, Hidden) else line)

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


class Keys(str):
    """Keys typed as they are, Enter only where they hold a carriage return."""


class Size:
    """The window given another size in place of a line typed."""

    def __init__(self, columns, rows):
        self.columns, self.rows = columns, rows


UP, LEFT, HOME, TAB, CTRL_C, CTRL_D, ESC = "\x1b[A", "\x1b[D", "\x1b[H", "\t", "\x03", "\x04", "\x1b"
WIDE = "\u4e2d"  # two columns


# Completions that fail (an error, a throw, halt, a result that is not a block of strings) leave the
# line as it was: "ab" stays "ab" where a Tab without candidates adds a character.
def failing_completions():
    steps = [(">> ", Keys('length? "ab' + TAB + '"\r'), ["== 3"])]
    for body in ["1 / 0", "throw 1", "halt", "[1 2]", '["ok" 3]', "none"]:
        steps += [
            (">> ", "oka-complete-input: func [s c] [%s] 0" % body, ["== 0"]),
            (">> ", Keys('length? "ab' + TAB + '"\r'), ["== 2"]),
        ]
    return steps


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
    "completes on Tab": [
        # several candidates are listed, and the next prompt starts with their common part
        (">> ", Keys("pri" + TAB), [">> prin print"]),
        (">> prin", Keys("t 6 * 7\r"), ["42"]),
        (">> ", Keys("append/" + TAB), [">> dup only part"]),
        (">> append/", Keys("only [1] [2]\r"), ["== [1 [2]]"]),
        # one candidate completes the line in place
        (">> ", Keys("system/con" + TAB + "/size\r"), ["== 80x24"]),
        # ... and so does a common prefix: the text after the cursor stays
        (">> ", Keys("pri 6 * 7" + LEFT * 6 + TAB + "t\r"), ["42"]),
        # no candidates: Tab is a character, shown as four blanks
        (">> ", Keys('length? "ab' + TAB + '"\r'), ['length? "ab    "', "== 3"]),
    ] + failing_completions(),
    "edits and recalls lines": [
        (">> ", 'ask "? "', []),
        ("? ", Keys("abc" + LEFT + "X\r"), ['== "abXc"']),
        (">> ", "6 * 7", ["== 42"]),
        (">> ", Keys(UP + "\r"), ["6 * 7", "== 42"]),
        # a line longer than the width wraps and the cursor follows
        (">> ", Keys("a" * 100), [Shows([">> " + "a" * 77, "a" * 23], 23)]),
        (None, Keys(HOME), [Shows([">> " + "a" * 77], 3)]),
        (None, Keys(ESC), ["(escape)"]),
        # a wide character that would start in the last column moves to the next row
        (">> ", Keys("a" * 76), [Shows([">> " + "a" * 76], 79)]),
        (None, Keys(WIDE), [Shows([">> " + "a" * 76, WIDE], 2)]),
        # the cursor on it is where it is drawn, and the cell it left counts
        (None, Keys(LEFT), [Shows([">> " + "a" * 76, WIDE], 0)]),
        (None, Keys(LEFT), [Shows([">> " + "a" * 76], 78)]),
        (None, Keys(ESC), ["(escape)"]),
    ],
    "follows the window's size": [
        (">> ", "system/console/size", ["== 80x24"]),
        # the line being edited is drawn again at the new width where it was, the cursor on its
        # character, and no copy of it stays
        (">> ", Keys("print {" + "a" * 60 + "}" + LEFT), [Shows(["== 80x24", ">> print {" + "a" * 60 + "}"], 70)]),
        (None, Size(40, 24), [Shows(["== 80x24", ">> print {" + "a" * 30, "a" * 30 + "}"], 30)]),
        (None, Keys("b"), [Shows(["== 80x24", ">> print {" + "a" * 30, "a" * 30 + "b}"], 31)]),
        (None, Size(30, 24), [Shows(["== 80x24", ">> print {" + "a" * 20, "a" * 30, "a" * 10 + "b}"], 11)]),
        (None, Size(80, 24), [Shows(["== 80x24", ">> print {" + "a" * 60 + "b}"], 71)]),
        (None, Keys("\r"), ["a" * 60 + "b"]),
        # what the console shows is cut to the new width: results, help's listings
        (">> ", Size(40, 24), [Shows([">>"], 3)]),
        (">> ", "system/console/size", ["== 40x24"]),
        (">> ", "append/dup copy [] 1 50", ["== [" + "1 " * 16 + "..."]),
        (">> ", '? "to-i"', ["     to-image        function!     C...\n"]),
    ],
}

# How a session ends (quit typed, unless named here), and the entry that the settings file then holds
# first in its history: Ctrl+D on an empty line, and Ctrl+C at the prompt, end the console as quit does.
ENDINGS = {"edits and recalls lines": (CTRL_D, "6 * 7"), "halts": (CTRL_C, "debug [print 1]")}


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
            session.type(line)
            for expected in shown:
                if isinstance(expected, Shows):
                    session.wait_until(expected)
                else:
                    session.wait_for(expected)
        keys, newest = ENDINGS.get(name, (Keys("quit\r"), "quit"))
        session.wait_for(">> ")
        session.wait_for_editor()
        session.type(Keys(keys))
        assert session.exit_status() == 0
        assert name not in SCRIPTS or b"--== Oka" not in session.seen, "the banner showed after the script"
        # the settings file keeps the history, newest first
        with open(os.path.join(session.appdata, "Oka", "Oka-Console", "console-cfg.oka")) as settings:
            assert 'history: [%s' % json.dumps(newest) in settings.read(), "the history was not saved"
    finally:
        session.close()


# Ctrl+C while an evaluation runs ends the process, as the signal ends any program that does not take
# it: the terminal gets its mode back, and the history of the session is not saved.
def interrupted_evaluation():
    session = Session()
    try:
        session.wait_for(">> ")
        session.type("1 + 1")
        session.wait_for("== 2")
        session.wait_for(">> ")
        session.type("forever [1]")
        session.wait_for_editor(editing=False)
        os.write(session.fd, b"\x03")
        assert session.exit_status() == -signal.SIGINT, "oka did not end by the interrupt"
        flags = termios.tcgetattr(session.fd)[3]
        assert flags & termios.ICANON and flags & termios.ECHO, "the terminal's mode was not given back"
        settings = os.path.join(session.appdata, "Oka", "Oka-Console", "console-cfg.oka")
        assert not os.path.exists(settings), "the history was saved"
    finally:
        session.close()


TESTS = [(name, lambda steps=steps, name=name: run(name, steps)) for name, steps in SESSIONS.items()]
TESTS.append(("ends on Ctrl+C during an evaluation", interrupted_evaluation))
failed = 0
for name, test in TESTS:
    try:
        test()
    except AssertionError as error:
        failed += 1
        print("%s: %s" % (name, error))
sys.exit(1 if failed else 0)
