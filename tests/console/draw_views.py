#!/usr/bin/env python3
"""Draw blocks and rich text on faces as a terminal shows them: each case runs a script of oka that shows a view, in a
tmux session of 80x24 (TERM=xterm-256color, LANG=C.UTF-8), and reads the pane's cells with their
colours once the view shows.

    draw_views.py OKA

A face of the view has a background colour of its own (xterm-256 index 21, blue) so that its cells tell
where the face is; a case fails when what it waits for does not show within its patience."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

OKA = os.path.abspath(sys.argv[1])
PATIENCE = 90 if os.environ.get("OKA_GC_STRESS") else 30  # seconds for a view to show, more under the stress mode
FACE = "21"  # the face's background: 0.0.255 as an xterm-256 index
RED = "196"
FULL_BLOCK = "\u2588"
FRAME = set("\u250c\u2510\u2514\u2518\u2502\u2500")


class Cell:
    def __init__(self, ch, fg, bg, bold):
        self.ch, self.fg, self.bg, self.bold = ch, fg, bg, bold


def cells_of(capture):
    """The pane's rows as cells, from `capture-pane -e`: SGR sequences set the colours of the characters
    after them (only the 256-colour forms and the resets matter here)."""
    sgr = re.compile(r"\x1b\[([0-9;:]*)m")
    rows = []
    fg = bg = None
    bold = False
    for line in capture.split("\n"):
        row = []
        at = 0
        for match in sgr.finditer(line + "\x1b[m"):
            row += [Cell(c, fg, bg, bold) for c in line[at:match.start()]]
            at = match.end()
            codes = (match.group(1) or "0").replace(":", ";").split(";")
            i = 0
            while i < len(codes):
                code = codes[i]
                if code in ("0", ""):
                    fg = bg = None
                    bold = False
                elif code in ("1", "22"):
                    bold = code == "1"
                elif code in ("38", "48") and i + 2 < len(codes) and codes[i + 1] == "5":
                    if code == "38":
                        fg = codes[i + 2]
                    else:
                        bg = codes[i + 2]
                    i += 2
                elif code == "39":
                    fg = None
                elif code == "49":
                    bg = None
                i += 1
        rows.append(row)
    return rows


def where(rows, test):
    """The bounding box (left, top, right, bottom, all included) of the cells that pass `test`, or None."""
    found = [(x, y) for y, row in enumerate(rows) for x, cell in enumerate(row) if test(cell)]
    if not found:
        return None
    xs = [x for x, _ in found]
    ys = [y for _, y in found]
    return min(xs), min(ys), max(xs), max(ys)


def picture(rows):
    return "\n".join("".join(c.ch for c in row).rstrip() for row in rows)


class View:
    """oka showing a view in a tmux session of its own (a private server socket)."""

    def __init__(self, script):
        self.folder = tempfile.mkdtemp()
        self.socket = os.path.join(self.folder, "tmux")
        path = os.path.join(self.folder, "view.oka")
        with open(path, "w") as file:
            file.write(script)
        command = "env -u COLORTERM TERM=xterm-256color LANG=C.UTF-8 APPDATA=%s %s %s" % (self.folder, OKA, path)
        self.tmux("new-session", "-d", "-x", "80", "-y", "24", command)

    def tmux(self, *arguments):
        return subprocess.run(["tmux", "-f", "/dev/null", "-S", self.socket] + list(arguments), check=True,
                              stdout=subprocess.PIPE, timeout=PATIENCE).stdout.decode()

    def rows(self):
        return cells_of(self.tmux("capture-pane", "-p", "-e"))

    # The pane's cells once `shown` holds of them.
    def wait_until(self, shown, what):
        deadline = time.monotonic() + PATIENCE
        while True:
            rows = self.rows()
            if shown(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("%s did not show; the pane shows:\n%s" % (what, picture(rows)))
            time.sleep(0.1)

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], stderr=subprocess.DEVNULL, timeout=PATIENCE)
        shutil.rmtree(self.folder, ignore_errors=True)


def face_box(rows):
    return where(rows, lambda c: c.bg == FACE)


def show(draw, size, what, shown, face="base %s 0.0.255 draw [%s]"):
    """Shows a face of `size` with its draw block (or another face with its background); gives the
    pane's cells and the face's box once `shown` holds of them."""
    view = View("Oka []\nview [%s]\n" % (face % (size, draw)))
    try:
        rows = view.wait_until(lambda rows: face_box(rows) is not None and shown(rows), what)
        return rows, face_box(rows)
    finally:
        view.close()


def check(condition, message, rows):
    if not condition:
        raise AssertionError("%s; the pane shows:\n%s" % (message, picture(rows)))


def framed_and_filled_box():
    rows, (fx, fy, _, _) = show("fill-pen 255.0.0 box 0x0 4x2", "20x6", "a red box",
                                lambda rows: where(rows, lambda c: c.bg == RED) is not None)
    check(where(rows, lambda c: c.bg == RED) == (fx, fy, fx + 4, fy + 2), "the fill is 5x3 at the face's origin", rows)
    text = ["".join(c.ch for c in rows[fy + y][fx:fx + 5]) for y in range(3)]
    check(text == ["\u250c\u2500\u2500\u2500\u2510", "\u2502   \u2502", "\u2514\u2500\u2500\u2500\u2518"],
          "the frame is drawn with box-drawing characters: %r" % text, rows)


def no_frame_with_the_pen_off():
    rows, (fx, fy, _, _) = show("pen off fill-pen 255.0.0 box 0x0 4x2", "20x6", "a red fill",
                                lambda rows: where(rows, lambda c: c.bg == RED) is not None)
    check(where(rows, lambda c: c.bg == RED) == (fx, fy, fx + 4, fy + 2), "the fill is 5x3 at the face's origin", rows)
    check(where(rows, lambda c: c.ch in FRAME) is None, "no frame is drawn", rows)


def circle_inside_its_face():
    rows, (fx, fy, fr, fb) = show("circle 10x5 3", "30x12", "a circle",
                                  lambda rows: where(rows, lambda c: c.ch == FULL_BLOCK) is not None)
    check(where(rows, lambda c: c.ch == FULL_BLOCK) == (fx + 4, fy + 2, fx + 16, fy + 8),
          "the circle spans 13 columns and 7 rows around 10x5 of its face", rows)


def line_stops_at_the_face_edge():
    rows, (fx, fy, fr, fb) = show("line 0x1 40x1", "10x3", "a line",
                                  lambda rows: where(rows, lambda c: c.ch == FULL_BLOCK) is not None)
    check(fr == fx + 9, "the face is 10 cells wide", rows)
    check(where(rows, lambda c: c.ch == FULL_BLOCK) == (fx, fy + 1, fr, fy + 1),
          "the line runs along the face's second row to its right edge, no further", rows)
    check(sum(c.ch == FULL_BLOCK for row in rows for c in row) == 10, "the line has 10 cells", rows)


def rich_text_styles():
    styles = "1x5 bold 255.0.0 7x20 backdrop 0.255.0"
    rows, _ = show(styles, "20x2", "styled text", lambda rows: "hello" in picture(rows),
                   face='rich-text %s 0.0.255 "hello world" data [%s]')
    y = next(y for y, row in enumerate(rows) if "hello" in "".join(c.ch for c in row))
    x = "".join(c.ch for c in rows[y]).index("hello")
    run = rows[y][x:x + 12]
    check(all(c.bold and c.fg == RED and c.bg == FACE for c in run[:5]), "hello is bold and red", rows)
    check(not run[5].bold and run[5].fg is None and run[5].bg == FACE, "the space between is plain", rows)
    check(all(not c.bold and c.bg == "46" for c in run[6:11]), "world is on green", rows)
    check(run[11].bg == FACE, "the range is cut at the end of the text", rows)


CASES = [framed_and_filled_box, no_frame_with_the_pen_off, circle_inside_its_face, line_stops_at_the_face_edge,
         rich_text_styles]

failed = 0
for case in CASES:
    try:
        case()
        print("ok", case.__name__)
    except Exception as error:  # a failed case is reported and the others still run
        failed += 1
        print("FAILED", case.__name__, error)
sys.exit(1 if failed else 0)
