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
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import uuid
from xml.sax.saxutils import escape

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLE = os.path.join(REPO, "examples", "OpBits.txt")
DEFAULT_OUTPUT = os.path.join(REPO, "docs", "opfile-run.svg")
COMMENT = "DL1ABC JO31"
QUESTION = "Callsign used, or other comments for .INC file"
WIDTH, HEIGHT = 80, 24
WAIT_SECONDS = 15.0
POLL_SECONDS = 0.05

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

_ESCAPE = re.compile(r"\x1b\[(?P<csi>[0-9;:?]*)(?P<final>[@-~])"
                     r"|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)"
                     r"|\x1b[()][0-9A-Za-z]|\x1b[=>78]")


def apply_sgr(params, fg, bg):
    """The colours (palette indexes) after one SGR sequence."""
    codes = [int(p) if p else 0 for p in re.split(r"[;:]", params)] if params else [0]
    i = 0
    while i < len(codes):
        code = codes[i]
        if code == 0:
            fg, bg = DEFAULT_FG, DEFAULT_BG
        elif 30 <= code <= 37:
            fg = code - 30
        elif 90 <= code <= 97:
            fg = code - 90 + 8
        elif code == 39:
            fg = DEFAULT_FG
        elif 40 <= code <= 47:
            bg = code - 40
        elif 100 <= code <= 107:
            bg = code - 100 + 8
        elif code == 49:
            bg = DEFAULT_BG
        elif code in (38, 48) and i + 2 < len(codes) and codes[i + 1] == 5:
            index = codes[i + 2] if codes[i + 2] < 16 else (DEFAULT_FG if code == 38 else DEFAULT_BG)
            if code == 38:
                fg = index
            else:
                bg = index
            i += 2
        i += 1
    return fg, bg


def parse_capture(captured):
    """Rows of (character, fg, bg) cells from `capture-pane -p -e` output.

    tmux sends an SGR sequence only where the colours change, and carries the
    colours over line ends, so they are followed through the whole capture.
    """
    rows = []
    fg, bg = DEFAULT_FG, DEFAULT_BG
    for line in captured.split("\n")[:HEIGHT]:
        row, pos = [], 0
        for match in _ESCAPE.finditer(line):
            row.extend((ch, fg, bg) for ch in line[pos:match.start()])
            if match.group("final") == "m":
                fg, bg = apply_sgr(match.group("csi"), fg, bg)
            pos = match.end()
        row.extend((ch, fg, bg) for ch in line[pos:])
        rows.append(row[:WIDTH])
    rows.extend([] for _ in range(HEIGHT - len(rows)))
    return rows


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


class Pane:
    def __init__(self, workdir, command):
        self.server = "screenshot-%d-%s" % (os.getpid(), uuid.uuid4().hex[:8])
        self.env = dict(os.environ, TERM="xterm-256color")
        self.env.pop("TMUX", None)
        self.workdir = workdir
        script = ("cd %s || exit 1; printf '\\033[H\\033[2J'; %s; echo $? > status.tmp; "
                  "mv status.tmp status; sleep 600" % (shlex.quote(workdir), command))
        self.socket = None
        try:
            self.tmux("new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT), "-c", workdir,
                      "sh -c %s" % shlex.quote(script))
            self.socket = self.tmux("display-message", "-p", "#{socket_path}").strip()
        except BaseException:
            self.close()
            raise

    def tmux(self, *args):
        result = subprocess.run(["tmux", "-L", self.server, "-f", "/dev/null", *args],
                                env=self.env, capture_output=True, text=True, timeout=10)
        if result.returncode != 0:
            raise RuntimeError("tmux %s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def close(self):
        subprocess.run(["tmux", "-L", self.server, "-f", "/dev/null", "kill-server"],
                       env=self.env, capture_output=True, timeout=10, check=False)
        # tmux leaves its socket file behind.
        if self.socket and os.path.exists(self.socket):
            os.unlink(self.socket)

    def lines(self):
        return [line.rstrip() for line in self.tmux("capture-pane", "-p").split("\n")]

    def wait_for(self, what, predicate):
        deadline = time.monotonic() + WAIT_SECONDS
        while not predicate(self.lines()):
            if time.monotonic() > deadline:
                raise RuntimeError("timed out waiting for %s; pane:\n%s"
                                   % (what, "\n".join(self.lines())))
            time.sleep(POLL_SECONDS)

    def wait_for_status(self):
        path = os.path.join(self.workdir, "status")
        deadline = time.monotonic() + WAIT_SECONDS
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                raise RuntimeError("opfile did not end after the key press")
            time.sleep(POLL_SECONDS)
        with open(path) as f:
            return int(f.read())


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
    pane = None
    try:
        shutil.copy(EXAMPLE, os.path.join(workdir, "OpBits.txt"))
        with open(os.path.join(workdir, "OpSymbs.inc"), "wb") as f:
            f.write(b";an older run\r\n\r\n")
        pane = Pane(workdir, shlex.quote(opfile))
        pane.wait_for("the question", lambda ls: any(l.startswith(QUESTION) for l in ls))
        pane.tmux("send-keys", "-l", COMMENT)
        pane.tmux("send-keys", "Enter")
        summary = " %d Bits" % bits
        pane.wait_for(repr(summary), lambda ls: summary in ls)
        captured = pane.tmux("capture-pane", "-p", "-e")
        x, y, visible = pane.tmux("display-message", "-p",
                                  "#{cursor_x} #{cursor_y} #{cursor_flag}").split()
        pane.tmux("send-keys", "-l", "x")
        status = pane.wait_for_status()
        if status != 0:
            sys.exit("opfile ended with status %d" % status)
        with open(os.path.join(workdir, "OpSymbs.inc"), "rb") as f:
            if not f.read().startswith((";" + COMMENT + "\r\n").encode()):
                sys.exit("OpSymbs.inc was not rewritten with the comment")
    finally:
        if pane is not None:
            pane.close()
        shutil.rmtree(workdir, True)

    svg = render_svg(parse_capture(captured), (int(x), int(y)) if visible == "1" else None)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(svg)
    print("wrote", args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
