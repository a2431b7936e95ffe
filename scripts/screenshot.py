#!/usr/bin/env python3
"""Makes the README's picture of a real opfile run: docs/opfile-run.svg.

    scripts/screenshot.py BUILT_OPFILE [--output FILE]

Builds nothing: give it the opfile program built before, for example
build/default/opfile/opfile. It runs the program in a private 80x24 tmux
pane, in a scratch directory holding the shipped examples/OpBits.txt and an
older OpSymbs.inc (so the overwrite notice shows), answers the question with
"DL1ABC JO31", waits for the summary, and captures the pane with its
colours (`tmux capture-pane -p -e`). Then it presses a key, checks that the
program ended with status 0, and writes the capture as an SVG picture drawn
straight from the screen's cells. Needs tmux and nothing else.
"""

import argparse
import os
import re
import shutil
import sys
import tempfile
from xml.sax.saxutils import escape

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
from tmux_driver import QUESTION, STATUS_FILE, TmuxPane, launch_script  # noqa: E402

EXAMPLE = os.path.join(REPO, "examples", "OpBits.txt")
DEFAULT_OUTPUT = os.path.join(REPO, "docs", "opfile-run.svg")
COMMENT = "DL1ABC JO31"
WIDTH, HEIGHT = 80, 24

# The 16 colours of the PC text screen, in ANSI order (SGR 30-37, then the
# bright ones 90-97): the colours the DOS original showed.
PALETTE = [
    "#000000", "#aa0000", "#00aa00", "#aa5500", "#0000aa", "#aa00aa", "#00aaaa", "#aaaaaa",
    "#555555", "#ff5555", "#55ff55", "#ffff55", "#5555ff", "#ff55ff", "#55ffff", "#ffffff",
]
DEFAULT_FG, DEFAULT_BG = 7, 0

# Picture geometry, in pixels.
FONT_SIZE = 14
CELL_W = 8.4  # the advance of a monospace font at 14 px (0.6 em)
CELL_H = 18
PAD = 12


def palette_cells(row):
    """(character, fg, bg) with palette indexes for the cells of one row."""
    def index(code, base, default):  # SGR 30-37 or 90-97 (40-47, 100-107): 0-15
        return default if code is None else code - base - (52 if code >= base + 60 else 0)
    return [(cell.char, index(cell.fg, 30, DEFAULT_FG), index(cell.bg, 40, DEFAULT_BG)) for cell in row]


def render_svg(rows, cursor=None):
    """An SVG picture of the cells: one <text> a row, one <tspan> a run of
    equal colours, each run placed at its own column."""
    width = PAD * 2 + CELL_W * WIDTH
    height = PAD * 2 + CELL_H * HEIGHT
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%g" height="%g" '
           'viewBox="0 0 %g %g">' % (width, height, width, height),
           '<rect width="100%%" height="100%%" rx="6" fill="%s"/>' % PALETTE[DEFAULT_BG]]
    # Backgrounds other than the screen's own black.
    for y, row in enumerate(rows):
        x = 0
        while x < len(row):
            bg = row[x][2]
            end = x
            while end < len(row) and row[end][2] == bg:
                end += 1
            if bg != DEFAULT_BG:
                out.append('<rect x="%g" y="%g" width="%g" height="%g" fill="%s"/>'
                           % (PAD + x * CELL_W, PAD + y * CELL_H, (end - x) * CELL_W, CELL_H,
                              PALETTE[bg]))
            x = end
    if cursor is not None:
        column, row = cursor
        out.append('<rect x="%g" y="%g" width="%g" height="2" fill="%s"/>'
                   % (PAD + column * CELL_W, PAD + (row + 1) * CELL_H - 3, CELL_W,
                      PALETTE[DEFAULT_FG]))
    out.append('<g font-family="\'DejaVu Sans Mono\', \'Liberation Mono\', Consolas, '
               'monospace" font-size="%d" xml:space="preserve" style="white-space:pre">' % FONT_SIZE)
    for y, row in enumerate(rows):
        text = "".join(cell[0] for cell in row).rstrip()
        if not text:
            continue
        baseline = PAD + y * CELL_H + CELL_H * 0.75
        spans = []
        x = 0
        while x < len(text):
            fg = row[x][1]
            end = x
            while end < len(text) and row[end][1] == fg:
                end += 1
            # Each piece between runs of two or more spaces is placed at its
            # own column, so the picture stays right where a viewer
            # collapses spaces.
            for piece in re.finditer(r"\S+(?: \S+)*", text[x:end]):
                spans.append('<tspan x="%g" fill="%s">%s</tspan>'
                             % (PAD + (x + piece.start()) * CELL_W, PALETTE[fg],
                                escape(piece.group())))
            x = end
        out.append('<text y="%g">%s</text>' % (baseline, "".join(spans)))
    out.append("</g>")
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("opfile", help="the built opfile program")
    parser.add_argument("--output", default=DEFAULT_OUTPUT, help="the SVG file to write")
    args = parser.parse_args()
    opfile = os.path.abspath(args.opfile)
    if not os.access(opfile, os.X_OK):
        sys.exit("not an executable program: " + opfile)
    if shutil.which("tmux") is None:
        sys.exit("tmux is needed: sudo apt-get install tmux")
    with open(EXAMPLE, "rb") as f:
        bits = sum(1 for byte in f.read() if byte in b"01")

    workdir = tempfile.mkdtemp(prefix="opfile-screenshot-")
    pane = TmuxPane(WIDTH, HEIGHT)
    try:
        shutil.copy(EXAMPLE, os.path.join(workdir, "OpBits.txt"))
        with open(os.path.join(workdir, "OpSymbs.inc"), "wb") as f:
            f.write(b";an older run\r\n\r\n")
        pane.start(launch_script(workdir, [opfile]), workdir)
        pane.wait_for_text(QUESTION.rstrip())
        pane.send_text(COMMENT)
        pane.send_keys("Enter")
        summary = " %d Bits" % bits
        rows = [palette_cells(row) for row in pane.wait_until(lambda lines: summary in lines, repr(summary))]
        x, y, visible = pane.tmux("display-message", "-p",
                                  "#{cursor_x} #{cursor_y} #{cursor_flag}").split()
        pane.send_text("x")
        status = int(pane.wait_for_file(os.path.join(workdir, STATUS_FILE)))
        if status != 0:
            sys.exit("opfile ended with status %d" % status)
        with open(os.path.join(workdir, "OpSymbs.inc"), "rb") as f:
            if not f.read().startswith((";" + COMMENT + "\r\n").encode()):
                sys.exit("OpSymbs.inc was not rewritten with the comment")
    finally:
        pane.close()
        shutil.rmtree(workdir, True)

    svg = render_svg(rows, (int(x), int(y)) if visible == "1" else None)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(svg)
    print("wrote", args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
