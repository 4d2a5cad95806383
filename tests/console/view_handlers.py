#!/usr/bin/env python3
"""Views at the console, as a person sees them: oka runs in a tmux window of 80x24
(TERM=xterm-256color, LANG=C.UTF-8, the cache folder in a temporary folder); each session types lines
at the prompt and keys (and mouse reports) into the views it opens, and waits for what the screen must
show next. A session fails when that does not come within its patience, and every session ends
within it.

    views.py OKA

Without a terminal a view reads its keys from standard input and ends with it: the last check runs
oka with its input and output redirected."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

OKA = os.path.abspath(sys.argv[1])
PATIENCE = 90 if os.environ.get("OKA_GC_STRESS") else 30  # seconds for each thing awaited, more under the stress mode
ESC, TAB, SHIFT_TAB, ENTER = "\x1b", "\t", "\x1b[Z", "\r"


def mouse(button, column, row, release=False):
    """An SGR mouse report of a cell (0-based column and row): a press (or motion, button + 32) or a
    release."""
    return "\x1b[<%d;%d;%d%s" % (button, column + 1, row + 1, "m" if release else "M")


class Window:
    def __init__(self):
        self.folder = tempfile.mkdtemp()
        self.socket = os.path.join(self.folder, "tmux")
        os.mkdir(os.path.join(self.folder, "appdata"))
        self.below = 0  # the first row under the line typed last
        environment = ["TERM=xterm-256color", "LANG=C.UTF-8", "APPDATA=" + os.path.join(self.folder, "appdata")]
        self.tmux("new-session", "-d", "-x", "80", "-y", "24", "env", *environment, OKA)

    def tmux(self, *arguments):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null"] + list(arguments), check=True,
                              capture_output=True, text=True, timeout=PATIENCE).stdout

    def rows(self):
        return [row.rstrip() for row in self.tmux("capture-pane", "-p").split("\n")[:24]]

    def cursor(self):
        x, y = self.tmux("display", "-p", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def wait_until(self, what, test):
        deadline = time.monotonic() + PATIENCE
        while True:
            rows = self.rows()
            found = test(rows)
            if found:
                return found
            if time.monotonic() > deadline:
                raise AssertionError("did not see %s; the screen shows:\n%s" % (what, "\n".join(rows)))
            time.sleep(0.05)

    # The (column, row) of a text under the line typed last, once it shows there.
    def wait_for(self, text):
        def find(rows):
            for y in range(self.below, len(rows)):
                if text in rows[y]:
                    return rows[y].index(text), y
            return None
        return self.wait_until(repr(text), find)

    # The rows under the line typed last that show the text alone.
    def count(self, text):
        return sum(row.strip() == text for row in self.rows()[self.below:])

    def wait_count(self, text, times):
        self.wait_until("%r %d times" % (text, times), lambda rows: self.count(text) == times)

    # The prompt at the start of the cursor's row, the line editor waiting for a line.
    def wait_prompt(self):
        self.wait_until("the prompt", lambda rows: rows[self.cursor()[1]].startswith(">>"))

    def keys(self, text):
        self.tmux("send-keys", "-l", text)

    # Types a line at the prompt; the line editor wraps it at the window's width.
    def line(self, text):
        self.wait_prompt()
        self.below = self.cursor()[1] + (len(">> " + text) + 79) // 80
        self.keys(text + ENTER)

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True, timeout=PATIENCE)
        shutil.rmtree(self.folder, ignore_errors=True)


def inline_view(w):
    # the view is drawn under the line that opened it; Enter on the focused button runs its actor,
    # Escape closes the view (its last frame stays on the screen) and the prompt comes back under it,
    # the line editor working
    w.line('view [text "Hello" button "OK" [print "pressed"]]')
    hello = w.wait_for("Hello")
    ok = w.wait_for("OK")
    assert hello[1] == ok[1] == w.below + 1, "the view is not right under its line"
    w.keys(ENTER)
    w.wait_for("pressed")
    w.keys(ESC)
    w.line("1 + 1")
    w.wait_for("== 2")
    modes = w.tmux("display", "-p", "#{alternate_on} #{mouse_any_flag} #{cursor_flag}").split()
    assert modes == ["0", "0", "1"], "the terminal was not given back (alternate screen, mouse, cursor): %s" % modes


def tab_order(w):
    # Tab goes from button to button and field, and round after the last; Shift+Tab goes back; Enter
    # on a button runs its actor, on a field it enters
    w.line('view [a: button "A" [print "on A"] b: button "B" [print "on B"] f: field [print "entered"]]')
    w.wait_for("A")
    w.keys(ENTER)
    w.wait_count("on A", 1)
    w.keys(TAB + ENTER)
    w.wait_count("on B", 1)
    w.keys(TAB + ENTER)
    w.wait_count("entered", 1)
    w.keys(TAB + ENTER)
    w.wait_count("on A", 2)
    w.keys(TAB + TAB + SHIFT_TAB + ENTER)
    w.wait_count("on B", 2)
    w.keys(SHIFT_TAB + ENTER)
    w.wait_count("on A", 3)
    w.keys(ESC)
    w.wait_prompt()


def radio_group(w):
    # a click on a radio turns it on and its siblings off
    w.line('view [r1: radio "one" data true r2: radio "two" button "show" [print [r1/data r2/data]]]')
    x, y = w.wait_for("two")
    w.keys(mouse(0, x, y) + mouse(0, x, y, release=True))
    show = w.wait_for("show")
    w.keys(mouse(0, show[0], show[1]) + mouse(0, show[0], show[1], release=True))
    w.wait_for("false true")
    w.keys(ESC)
    w.wait_prompt()


def dragging(w):
    # a loose face follows the pointer with the button held, and stays inside its parent: from 1x1,
    # the move of 4x1 takes a 10x3 face to 5x2, which the 14x5 window holds at 4x2
    w.line('view [size 14x5 at 1x1 d: base 10x3 "D" loose] print d/offset')
    x, y = w.wait_for("D")
    w.keys(mouse(0, x, y))
    w.keys(mouse(32, x + 4, y + 1))
    w.keys(mouse(0, x + 4, y + 1, release=True))
    w.keys(ESC)
    w.wait_for("4x2")
    w.wait_prompt()


def without_terminal():
    # the view reads its keys from the redirected input and ends with it: Enter clicks the button,
    # the end of the input closes the view, and no terminal mode is ever set
    appdata = tempfile.mkdtemp()
    try:
        env = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8", APPDATA=appdata)
        typed = 'view [button "b" [print "clicked"]] print system/view/screens/1/size\n\r'
        done = subprocess.run([OKA], input=typed.encode(), capture_output=True, env=env, timeout=PATIENCE)
        assert b"clicked" in done.stdout, done.stdout
        assert b"80x24" in done.stdout, done.stdout
        assert b"\x1b[?" not in done.stdout, "a terminal mode was set: %r" % done.stdout
    finally:
        shutil.rmtree(appdata, ignore_errors=True)


failed = 0
for session in [inline_view, tab_order, radio_group, dragging]:
    w = Window()
    try:
        session(w)
        w.line("quit")
    except AssertionError as error:
        failed += 1
        print("%s: %s" % (session.__name__, error))
    finally:
        w.close()
try:
    without_terminal()
except (AssertionError, subprocess.TimeoutExpired) as error:
    failed += 1
    print("without_terminal: %s" % error)
sys.exit(1 if failed else 0)
