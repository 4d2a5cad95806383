#!/usr/bin/env python3
"""Views on a real terminal: each session runs oka in a tmux window of 80x24 (TERM=xterm-256color,
LANG=C.UTF-8, the cache folder in a temporary folder), under a shell that notes the terminal's
settings before oka starts and after it ends. tmux is the terminal: what its screen shows is what a
person sees, and it tells whether the alternate screen, the mouse modes and a hidden cursor were left
on. A session fails when what it awaits does not come within its patience.

    views.py OKA"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OKA = os.path.abspath(sys.argv[1])
PATIENCE = 90 if os.environ.get("OKA_GC_STRESS") else 30  # seconds for each thing awaited


class Session:
    """oka in a tmux window of its own, run by a shell that keeps the terminal's settings before and
    after in files and then waits, so that the screen stays to be read."""

    def __init__(self, script=None):
        self.folder = tempfile.mkdtemp()
        self.socket = os.path.join(self.folder, "tmux")
        os.mkdir(os.path.join(self.folder, "appdata"))
        command = "'%s'" % OKA
        if script is not None:
            with open(os.path.join(self.folder, "script.oka"), "w") as file:
                file.write("Oka []\n" + script)
            command += " script.oka"
        shell = ("stty -g > before; %s; echo $? > status; stty -g > after; exec sleep %d" % (command, 4 * PATIENCE))
        environment = ["TERM=xterm-256color", "LANG=C.UTF-8", "APPDATA=" + os.path.join(self.folder, "appdata")]
        self.tmux("new-session", "-d", "-x", "80", "-y", "24", "-c", self.folder, "env", *environment, "sh", "-c",
                  shell)

    def tmux(self, *arguments):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null"] + list(arguments), check=True,
                              capture_output=True, text=True, timeout=PATIENCE).stdout

    def rows(self):
        return self.tmux("capture-pane", "-p").split("\n")[:-1]

    def modes(self):
        """Whether the alternate screen, the mouse reports and the cursor are on."""
        alternate, mouse, cursor = self.tmux("display", "-p", "#{alternate_on} #{mouse_any_flag} #{cursor_flag}").split()
        return {"alternate screen": alternate == "1", "mouse": mouse == "1", "cursor": cursor == "1"}

    def keys(self, *keys):
        self.tmux("send-keys", *keys)

    def line(self, text):
        self.tmux("send-keys", "-l", text)
        self.tmux("send-keys", "Enter")

    def wait(self, what, found):
        deadline = time.monotonic() + PATIENCE
        while True:
            rows = self.rows()
            if found(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("%s did not come; the screen:\n%s" % (what, "\n".join(rows)))
            time.sleep(0.05)

    def wait_text(self, text):
        return self.wait(repr(text), lambda rows: any(text in row for row in rows))

    def wait_row(self, text):
        """Waits for a row that shows the text alone (with blanks around it)."""
        return self.wait("a row of " + repr(text), lambda rows: any(row.strip() == text for row in rows))

    def oka_pid(self):
        shell = self.tmux("display", "-p", "#{pane_pid}").strip()
        with open("/proc/%s/task/%s/children" % (shell, shell)) as file:
            return int(file.read().split()[0])

    def ended(self):
        """oka's exit status, once it ended and the shell noted the terminal's settings again; the
        terminal must then be as oka found it."""
        self.wait("the end of oka", lambda rows: os.path.exists(os.path.join(self.folder, "after")))
        time.sleep(0.1)
        before, after = (open(os.path.join(self.folder, name)).read() for name in ("before", "after"))
        if before != after:
            raise AssertionError("the terminal's settings were not given back: %s, not %s" % (after, before))
        modes = self.modes()
        if modes != {"alternate screen": False, "mouse": False, "cursor": True}:
            raise AssertionError("the terminal's modes were not given back: %r" % modes)
        return int(open(os.path.join(self.folder, "status")).read())

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True, timeout=PATIENCE)
        shutil.rmtree(self.folder, ignore_errors=True)


def mouse(button, column, row, release=False):
    """An SGR mouse report of a cell (0-based column and row): a press (or a move, button + 32) or a
    release."""
    return "\x1b[<%d;%d;%d%s" % (button, column + 1, row + 1, "m" if release else "M")


def row_of(rows, text, start=0):
    """The first row from `start` on that shows the text."""
    return next(i for i in range(start, len(rows)) if text in rows[i])


def inline_under_the_prompt(session):
    """A view is drawn under the line that shows it and redrawn in place; a print from an actor goes
    above the frame, which comes back under it; the prompt comes back on the row under the frame."""
    session.wait_text(">>")
    session.line('print "above" view [text "Hello" button "Say" [print "said"] return text "under"]')
    rows = session.wait_row("under")
    above = rows.index("above")
    # the window's first row is its margin
    hello = row_of(rows, "Hello", above)
    if hello != above + 2 or rows[above + 1].strip() or "Say" not in rows[hello]:
        raise AssertionError("the frame is not under the printed line:\n" + "\n".join(rows))
    under = row_of(rows, "under", above)
    if session.modes()["alternate screen"]:
        raise AssertionError("an inline view took the alternate screen")
    # the button has the focus (the text takes none): Space pushes it
    session.keys("Space")
    rows = session.wait_row("said")
    if rows.index("said") != above + 1 or row_of(rows, "Hello", above) != hello + 1 or row_of(rows, "under", above) != under + 1:
        raise AssertionError("the print did not go above the frame:\n" + "\n".join(rows))
    # the window's last row is its margin too; the prompt comes on the row under it
    prompt = under + 3
    session.keys("Escape")
    rows = session.wait("the prompt", lambda rows: rows[prompt].startswith(">>"))
    if sum("Hello" in row for row in rows[above:]) != 1 or any(row.strip() for row in rows[prompt + 1:]):
        raise AssertionError("the frame was drawn again:\n" + "\n".join(rows))
    session.line("quit")
    if session.ended() != 0:
        raise AssertionError("quit did not end oka with status 0")


def full_screen(session):
    """A full-screen view takes the alternate screen and draws from its top row; its end gives back the
    screen the console had."""
    session.wait_text(">>")
    session.line('print "kept" view/flags [text "Whole" text "screen"] [fullscreen] print "back"')
    rows = session.wait("the full-screen frame", lambda rows: any(row.startswith(" Whole") for row in rows))
    if not session.modes()["alternate screen"] or "kept" in "".join(rows):
        raise AssertionError("the full-screen view is not on the alternate screen:\n" + "\n".join(rows))
    # the window's first row is its margin
    if row_of(rows, "Whole") != 1:
        raise AssertionError("the full-screen frame is not at the top:\n" + "\n".join(rows))
    session.keys("Escape")
    rows = session.wait_row("back")
    kept = rows.index("kept")
    if rows.index("back") != kept + 1 or any("Whole" in row for row in rows[kept:]):
        raise AssertionError("the console's screen did not come back:\n" + "\n".join(rows))
    session.line("quit")
    session.ended()


def resized(session):
    """A change of the terminal's size reaches the window, and the frame is drawn again at the new size."""
    rows = session.wait_text("80x24")
    if not session.modes()["alternate screen"]:
        raise AssertionError("not full screen")
    session.tmux("resize-window", "-x", "60", "-y", "20")
    rows = session.wait_text("60x20")
    if len(rows) != 20 or any(len(row) > 60 for row in rows):
        raise AssertionError("the frame is not of the new size:\n" + "\n".join(rows))
    if any("80x24" in row for row in rows):
        raise AssertionError("the old frame stayed:\n" + "\n".join(rows))
    session.keys("Escape")
    if session.ended() != 0:
        raise AssertionError("the view did not end")


SIZE_SHOWN = """
show-size: func [face event] [size-shown/text: form system/view/screens/1/size]
view/flags/options [size-shown: text 30 ""] [fullscreen] [
    actors: make object! [on-created: :show-size on-resize: :show-size]
]
"""

# A view that runs until it is ended; its timer shows it is running.
RUNNING = """
view [clock: text 20 "running" rate 20 on-time [clock/text: either clock/text = "running" ["Running"] ["running"]]]
"""


# An actor that waits: the other face's timer keeps counting meanwhile, and wait 0 returns.
WAITING = """
view [
    count: text 10 "0" rate 20 on-time [count/text: form 1 + to integer! count/text]
    text 30 "" rate 2 on-time [
        face/rate: none
        ticks: to integer! count/text
        wait 0.5
        ticks: (to integer! count/text) - ticks
        wait 0
        face/text: either ticks > 0 ["counted while waiting"] ["stopped while waiting"]
    ]
]
"""


def waiting(session):
    rows = session.wait_text("while waiting")
    if not any("counted while waiting" in row for row in rows):
        raise AssertionError("the timers stopped while an actor waited:\n" + "\n".join(rows))
    session.keys("Escape")
    session.ended()


def ended_by(signal_number):
    def end(session):
        session.wait_text("unning")
        os.kill(session.oka_pid(), signal_number)
        session.ended()

    return end


def ended_by_quit(session):
    session.wait_text("Leaving")
    status = session.ended()
    if status != 3:
        raise AssertionError("quit/return 3 ended oka with %d" % status)


def ended_by_an_error(session):
    rows = session.wait("the error", lambda rows: any("boom" in row for row in rows))
    if session.ended() == 0:
        raise AssertionError("the error ended oka with status 0:\n" + "\n".join(rows))


DRAGGED = 'view [size 30x5 at 1x1 d: base 3x1 "D" loose] print ["dropped at" d/offset]'


def dragged_past_its_edge(session):
    """A fast drag: one move takes the pointer far out of the face held, and the face follows it."""
    rows = session.wait_row("D")
    y = rows.index(next(row for row in rows if row.strip() == "D"))
    x = rows[y].index("D")
    session.tmux("send-keys", "-l", mouse(0, x, y) + mouse(32, x + 12, y + 2) + mouse(0, x + 12, y + 2, release=True))
    session.wait("the face moved", lambda rows: len(rows[y + 2]) > x + 12 and rows[y + 2][x + 12] == "D")
    session.keys("Escape")
    session.wait_text("dropped at 13x3")
    session.ended()


# The requesters open on a folder of three files and a sub-folder; the one chosen is printed.
FILES = """
make-dir %files/
change-dir %files/
foreach file [%a.txt %b.txt %c.dat] [write file ""]
make-dir %sub/
print ["chose" mold REQUESTER]
"""


def chosen(session, keys, ending):
    """Types the keys one by one, each once the screen shows the text paired with it, and checks what
    the requester gave back."""
    for key, awaited in keys:
        session.wait_text(awaited)
        session.keys(key)
    rows = session.wait_text("chose ")
    row = rows[row_of(rows, "chose ")].strip()
    if not row.endswith(ending):
        raise AssertionError("the requester gave %r, not a value ending in %r" % (row, ending))
    if session.ended() != 0:
        raise AssertionError("oka did not end well after the requester")


def framed(session, white, coal):
    """Waits for the frame titled `white` to be drawn white and the one titled `coal` coal."""
    def corner(colour, title):
        return "\x1b[38;5;%dm\u256d\x1b[39m %s " % (colour, title)
    session.wait("the %s frame white" % white, lambda rows: all(
        corner(*wanted) in session.tmux("capture-pane", "-p", "-e") for wanted in [(231, white), (238, coal)]))


def file_picked(session):
    """The folder's files that match the filter show; Right goes to them, Enter takes the one selected
    and Open gives its path."""
    rows = session.wait_text("b.txt")
    if any("c.dat" in row for row in rows) or not any("sub/" in row for row in rows):
        raise AssertionError("the requester does not show the folders and the files that match:\n" + "\n".join(rows))
    # the frame of the list that has the focus is white (231), the other's coal (238)
    framed(session, "Folders", "Files")
    session.keys("Right")
    framed(session, "Files", "Folders")
    chosen(session, [("Down", "a.txt"), ("Enter", "b.txt"), ("Tab", "Selected:  b.txt"),
                     ("Tab", "Open"), ("Space", "Open")], '/files/b.txt')


def file_cancelled(session):
    chosen(session, [("Tab", "a.txt"), ("Tab", "a.txt"), ("Tab", "Cancel"), ("Tab", "Cancel"), ("Space", "Cancel")],
           "chose none")


def folder_picked(session):
    """Enter on a folder goes into it; OK gives the folder shown."""
    chosen(session, [("Down", "sub/"), ("Enter", "sub/"), ("Tab", "files/sub/"), ("Tab", "OK"), ("Space", "OK")],
           "/files/sub/")


SESSIONS = [
    ("a view inline under the prompt", inline_under_the_prompt, None),
    ("a full-screen view", full_screen, None),
    ("a resize", resized, SIZE_SHOWN),
    ("wait in an actor", waiting, WAITING),
    ("quit in an actor", ended_by_quit, 'view [text "Leaving" rate 5 on-time [quit/return 3]]'),
    ("an error after a view", ended_by_an_error,
     'view [text "Leaving" rate 5 on-time [unview]] do make error! "boom"'),
    ("a drag past the edge of the face", dragged_past_its_edge, DRAGGED),
    ("a file picked in request-file", file_picked, FILES.replace("REQUESTER", 'request-file/filter ["Texts" "*.txt"]')),
    ("request-file cancelled", file_cancelled, FILES.replace("REQUESTER", "request-file")),
    ("a folder picked in request-dir", folder_picked, FILES.replace("REQUESTER", "request-dir")),
    ("SIGINT", ended_by(signal.SIGINT), RUNNING),
    ("SIGTERM", ended_by(signal.SIGTERM), RUNNING),
    ("a fatal error's report (SIGSEGV)", ended_by(signal.SIGSEGV), RUNNING),
]


# Without a terminal (the output a pipe) a view writes nothing of its own, not a frame nor an escape
# sequence: the output holds only what the script prints. Its keys come from the input, and the end
# of the input ends it. Each case: the script, its input, its whole output.
PIPED = [
    ('alert "hi" print "end"', " ", "end\n"),
    ('alert "hi" print "end"', "x", "end\n"),
    ('view [button "b" [print "clicked"]] print "end"', "\r\r", "clicked\nclicked\nend\n"),
    ('view/flags [text "whole"] [fullscreen] print "end"', "", "end\n"),
    ('view/no-wait [text "open"] print "end"', "", "end\n"),
]


def without_a_terminal():
    failures = []
    folder = tempfile.mkdtemp()
    try:
        os.mkdir(os.path.join(folder, "appdata"))
        environment = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8", APPDATA=os.path.join(folder, "appdata"))
        script = os.path.join(folder, "script.oka")
        for code, typed, expected in PIPED:
            with open(script, "w") as file:
                file.write("Oka []\n" + code + "\n")
            ran = subprocess.run([OKA, script], input=typed.encode(), capture_output=True, env=environment,
                                 timeout=PATIENCE)
            if ran.stdout != expected.encode() or ran.returncode != 0:
                failures.append("without a terminal, %s wrote %r (status %d), not %r" %
                                (code, ran.stdout, ran.returncode, expected))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return failures


def main():
    failures = []
    for name, run, script in SESSIONS:
        session = Session(script)
        try:
            run(session)
        except (AssertionError, subprocess.SubprocessError) as failure:
            failures.append("%s: %s" % (name, failure))
        finally:
            session.close()
    piped = without_a_terminal()
    for failure in failures + piped:
        print("FAILED:", failure)
    print("%d of %d sessions passed, %d of %d piped runs" % (len(SESSIONS) - len(failures), len(SESSIONS),
                                                            len(PIPED) - len(piped), len(PIPED)))
    return 1 if failures or piped else 0


if __name__ == "__main__":
    sys.exit(main())
