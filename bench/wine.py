#!/usr/bin/env python3
"""Times opfile.exe under Wine in an 80x24 tmux pane against `wine cmd /c
type` of a file holding the same rows as its screen.

    python3 bench/wine.py [--opfile PATH] [--bits N ...]

opfile.exe runs from start to exit: the comment is typed when the question
shows, a key pressed when the summary shows. `type` is timed until the pane
shows its last row (the same summary). OpSymbs.inc is checked byte for byte,
and the two panes must show the same rows. The Wine prefix is a private one
next to the program's build.
"""

import argparse
import os
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
from tmux_driver import QUESTION, WRITTEN, dialogue_rows, expected_include  # noqa: E402
from tmux_driver import STATUS_FILE, TmuxPane, launch_script, row_text  # noqa: E402

WINE = shutil.which("wine64") or shutil.which("wine")
COMMENT = "DL1ABC"


def read(path):
    return pathlib.Path(path).read_bytes()


def write(path, rows):
    with open(path, "w", newline="") as f:
        f.write("".join(row + "\r\n" for row in rows))


def run(argv, cwd, env, last_row, dialogue):
    """Seconds from the pane's start until last_row shows (or, with dialogue,
    until the program exits after answering it), and the rows shown then."""
    pane = TmuxPane(80, 24)
    pane.env.update(env)
    try:
        start = time.monotonic()
        pane.start(launch_script(cwd, argv), cwd)
        if dialogue:
            pane.wait_for_text(QUESTION.rstrip(), 60)
            pane.send_text(COMMENT)
            pane.send_keys("Enter")
        shown = pane.wait_until(lambda lines: last_row in lines, repr(last_row), 3600)
        if dialogue:
            pane.send_text("x")
            if pane.wait_for_file(os.path.join(cwd, STATUS_FILE), 60).strip() != "0":
                sys.exit("opfile.exe failed:\n" + pane.dump())
        return time.monotonic() - start, [row_text(row) for row in shown]
    finally:
        pane.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--opfile", default=os.path.join(HERE, "..", "build", "windows", "opfile",
                                                         "opfile.exe"))
    parser.add_argument("--bits", type=int, nargs="+", default=[32767, 10**6])
    args = parser.parse_args()
    opfile = os.path.abspath(args.opfile)
    prefix = os.path.join(os.path.dirname(os.path.dirname(opfile)), "bench-prefix")
    env = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=", "WINEPREFIX": prefix}
    subprocess.run([WINE, "cmd", "/c", "exit"], env=dict(os.environ, **env), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)  # makes the prefix once
    print("| bits | opfile.exe, start to exit | cmd /c type, same rows | ratio |")
    print("|---:|---:|---:|---:|")
    for count in args.bits:
        with tempfile.TemporaryDirectory(prefix="op-wine-bench-") as work:
            source = os.path.join(work, "OpBits.txt")
            rnd = random.Random(1)
            bits = "".join(rnd.choice("01") for _ in range(count))
            write(source, [bits[i:i + 64] for i in range(0, count, 64)])
            last = " %d Bits" % count
            write(os.path.join(work, "rows.txt"), dialogue_rows(COMMENT, read(source), WRITTEN))
            tool, screen = run([WINE, opfile], work, env, last, True)
            if read(os.path.join(work, "OpSymbs.inc")) != expected_include(COMMENT, read(source)):
                sys.exit("OpSymbs.inc is wrong for %d bits" % count)
            os.remove(os.path.join(work, STATUS_FILE))
            shell, typed = run([WINE, "cmd", "/c", "type", "rows.txt"], work, env, last, False)
            if screen != typed:
                sys.exit("the panes differ:\n%s\n---\n%s" % ("\n".join(screen), "\n".join(typed)))
            print("| %d | %.2f s | %.2f s | %.1f |" % (count, tool, shell, tool / shell),
                  flush=True)


if __name__ == "__main__":
    main()
