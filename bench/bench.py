#!/usr/bin/env python3
"""Times opfile against its two Linux speed targets.

    python3 bench/bench.py [--opfile PATH] [--runs N]

(a) 10^6 bits in an 80x24 tmux pane, within 1.5 times the same pane showing
a minimal echo of the same rows (`cat` of a file holding, per group, a line
feed, a move to column 6 and the eight bits). Each clock starts when Enter
is sent (the comment, or a `read` before the `cat`) and stops when the pane
shows the count row; the runs alternate and the medians are compared.
(b) 32767 bits through a pseudo-terminal, under 50 ms from start to exit:
the driver answers the cursor query, types the comment when the question
shows and a key when the count shows.
Both check OpSymbs.inc byte for byte.
"""

import argparse
import os
import pty
import random
import shlex
import statistics
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
from tmux_driver import TmuxPane, expected_include  # noqa: E402

COMMENT = "DL1ABC"


def groups(count, seed=1):
    rnd = random.Random(seed)
    bits = "".join(rnd.choice("01") for _ in range(count))
    return bits, [bits[i:i + 8].ljust(8, "0") for i in range(0, count, 8)]


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


def check_include(cwd, bits):
    with open(os.path.join(cwd, "OpSymbs.inc"), "rb") as f:
        if f.read() != expected_include(COMMENT, bits):
            sys.exit("OpSymbs.inc is not what it should be in " + cwd)


def pane_run(command, cwd, ready, typed, end):
    """Starts `command` in a fresh pane, types `typed` once `ready` shows, and
    returns the seconds from pressing Enter until `end` shows."""
    pane = TmuxPane(80, 24)
    try:
        pane.start(command, cwd)
        pane.wait_for_text(ready)
        if typed:
            pane.send_text(typed)
            pane.wait_for_text(typed)
        start = time.perf_counter()
        pane.send_keys("Enter")
        while end not in pane.tmux("capture-pane", "-p"):
            if time.perf_counter() > start + 120:
                sys.exit("the pane never showed %r:\n%s" % (end, pane.dump()))
            time.sleep(0.002)
        return time.perf_counter() - start
    finally:
        pane.close()


def bench_pane(opfile, runs, work):
    bits, rows = groups(10**6)
    source, echo = os.path.join(work, "bits.txt"), os.path.join(work, "echo.txt")
    write(source, bits)
    write(echo, "".join("\n\x1b[6G" + g for g in rows))
    end = " %d Bits" % len(bits)
    cat = "printf go; read x; cat %s; printf '\\n%s'; sleep 600" % (shlex.quote(echo), end)
    tool, reference = [], []
    for _ in range(runs):
        tool.append(pane_run(shlex.join([opfile, source]), work, "INC file", COMMENT, end))
        reference.append(pane_run(cat, work, "go", "", end))
    check_include(work, bits)
    return statistics.median(tool), statistics.median(reference)


def pty_run(opfile, source, cwd):
    """opfile's whole dialogue on a pseudo-terminal; seconds from fork to exit."""
    start = time.perf_counter()
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execv(opfile, [opfile, source])
    answers = [(b"\x1b[6n", b"\x1b[1;1R"), (b"file  ", COMMENT.encode() + b"\r"), (b" Bits", b"x")]
    seen = b""
    while True:
        try:
            data = os.read(fd, 1 << 16)
        except OSError:  # the program ended and closed the terminal
            break
        seen += data
        if answers and answers[0][0] in seen:
            os.write(fd, answers.pop(0)[1])
            seen = b""
    _, status = os.waitpid(pid, 0)
    seconds = time.perf_counter() - start
    os.close(fd)
    if status != 0 or answers:
        sys.exit("opfile on a pseudo-terminal: status %d, %d answers left" % (status, len(answers)))
    return seconds


def bench_pty(opfile, runs, work):
    bits, rows = groups(32767, seed=2)
    source = os.path.join(work, "short.txt")
    write(source, bits)
    seconds = statistics.median(pty_run(opfile, source, work) for _ in range(runs))
    check_include(work, bits)
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--opfile", default=os.path.join(REPO, "build", "default", "opfile", "opfile"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    opfile = os.path.abspath(args.opfile)
    with tempfile.TemporaryDirectory(prefix="opbench-") as work:
        tool, cat = bench_pane(opfile, args.runs, work)
        short = bench_pty(opfile, args.runs, work)
    print("| case | tool | reference | ratio / target |")
    print("|---|---|---|---|")
    print("| 10^6 bits, 80x24 tmux pane | %.3f s | %.3f s (cat of the minimal echo) | %.2f / 1.5 |"
          % (tool, cat, tool / cat))
    print("| 32767 bits, pseudo-terminal | %.1f ms | - | %.1f / 50 ms |" % (short * 1000, short * 1000))


if __name__ == "__main__":
    main()
