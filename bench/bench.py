#!/usr/bin/env python3
"""Times opfile and opclip against the shell pipeline a user would write
instead, and measures opfile's peak memory.

    python3 bench/bench.py [--opfile PATH] [--opclip PATH] [--runs N]

opfile runs in a pseudo-terminal: the driver answers the terminal's cursor
query, types the comment when the question shows, reads the whole echo and
presses a key when the summary shows; the time is from start to exit. The
pipeline (tr | fold | awk) writes the same OpSymbs.inc, and the bytes are
checked to be equal. opclip reads a clipboard of a million characters from a
private Xvfb (skipped when Xvfb or xclip is missing).
"""

import argparse
import os
import pty
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMENT = "DL1ABC"
PIPELINE = (
    "tr -cd 01 < \"$1\" | fold -w8 | awk -v c=\"$2\" 'BEGIN { printf \";%s\\r\\n\\r\\n\", c } "
    "{ printf \"        de   b\\x27%s\\x27\\r\\n\", substr($0 \"0000000\", 1, 8) } "
    "END { if (NR == 0) printf \"\\x27\\r\\n\" }' > OpSymbs.inc"
)


def bit_file(path, count, seed=1):
    rnd = random.Random(seed)
    bits = "".join(rnd.choice("01") for _ in range(count))
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(bits[i:i + 64] for i in range(0, count, 64)) + "\r\n")


class Stuck(Exception):
    pass


def on_alarm(signum, frame):
    raise Stuck()


def drive(argv, cwd, env=None):
    """Runs a tool in a pty through its whole dialogue; returns (seconds,
    peak resident KiB, bytes of screen output).

    The clock starts when the forked child is released to exec the tool:
    forking this Python process takes several milliseconds that a shell
    starting the tool does not spend, so it is left out. The reads block
    (no select per read) so that the driver, which stands in for the
    terminal, slows the tool down as little as it can."""
    go_read, go_write = os.pipe()
    pid, fd = pty.fork()
    if pid == 0:
        os.close(go_write)
        os.read(go_read, 1)
        os.chdir(cwd)
        if env is not None:
            os.execve(argv[0], argv, env)
        os.execv(argv[0], argv)
    os.close(go_read)
    previous = signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(300)
    start = time.perf_counter()
    os.write(go_write, b"x")
    os.close(go_write)
    tail = b""
    stage = 0
    peak = 0
    total = 0
    try:
        while True:
            try:
                data = os.read(fd, 1 << 16)
            except OSError:
                break
            if not data:
                break
            total += len(data)
            tail = (tail + data)[-256:]
            if stage == 0 and b"\x1b[6n" in tail:
                os.write(fd, b"\x1b[1;1R")
                stage, tail = 1, b""
            if stage == 1 and b"INC file" in tail:
                os.write(fd, COMMENT.encode() + b"\r")
                stage, tail = 2, b""
            if stage == 2 and b"Bits" in tail:
                peak = high_water_mark(pid)  # the work is done; only the key wait is left
                os.write(fd, b"x")
                stage = 3
    except Stuck:
        os.kill(pid, signal.SIGKILL)
        raise RuntimeError("%s did not finish in 300 s; last output: %r" % (argv[0], tail[-200:]))
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)
    _, status = os.waitpid(pid, 0)
    seconds = time.perf_counter() - start
    os.close(fd)
    if status != 0:
        raise RuntimeError("%s ended with status %d" % (argv[0], status))
    return seconds, peak, total


def high_water_mark(pid):
    """Peak resident memory of the program itself, in KiB. (The rusage of a
    child forked from this Python process would count Python's own pages.)"""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def pipeline(source, cwd, env=None, fetch=""):
    """Times the pipeline on `source`, after the shell command `fetch`."""
    start = time.perf_counter()
    subprocess.run(["sh", "-c", fetch + PIPELINE, "sh", source, COMMENT], cwd=cwd, env=env, check=True)
    return time.perf_counter() - start


def compare(work, name, runs, tool, shell):
    """Runs tool(directory) and shell(directory) in turn, so that a slow
    spell of the machine falls on both; checks they wrote the same
    OpSymbs.inc and returns both lists of results."""
    tool_dir = os.path.join(work, name + "-tool")
    shell_dir = os.path.join(work, name + "-shell")
    os.makedirs(tool_dir, exist_ok=True)
    os.makedirs(shell_dir, exist_ok=True)
    tool_runs, shell_runs = [], []
    for _ in range(runs):
        tool_runs.append(tool(tool_dir))
        shell_runs.append(shell(shell_dir))
    if read(os.path.join(tool_dir, "OpSymbs.inc")) != read(os.path.join(shell_dir, "OpSymbs.inc")):
        sys.exit("OpSymbs.inc differs between the tool and the pipeline for " + name)
    return tool_runs, shell_runs


def read(path):
    with open(path, "rb") as f:
        return f.read()


def row(label, tool, shell, rss=None, output=None):
    ratio = tool / shell
    extra = "" if rss is None else "  %9.1f MiB  %8.1f MB" % (rss / 1024, output / 1e6)
    print("%-22s %9.3f s %9.3f s %7.2f%s" % (label, tool, shell, ratio, extra), flush=True)
    return ratio


def bench_opfile(opfile, runs, work):
    print("%-22s %11s %11s %7s  %13s  %11s" % ("opfile", "tool", "pipeline", "ratio",
                                               "peak RSS", "screen out"))
    peaks = []
    for count in (32767, 10**6, 10**7):
        source = os.path.join(work, "bits-%d.txt" % count)
        bit_file(source, count)
        tool_runs, shell_runs = compare(work, "%d bits" % count, runs,
                                        lambda cwd: drive([opfile, source], cwd),
                                        lambda cwd: pipeline(source, cwd))
        peak = max(r[1] for r in tool_runs)
        peaks.append(peak)
        row("%d bits" % count, statistics.median(r[0] for r in tool_runs),
            statistics.median(shell_runs), peak, tool_runs[0][2])
    print("peak RSS spread from 32767 to 10^7 bits: %.2f MiB" % ((max(peaks) - min(peaks)) / 1024))


def bench_opclip(opclip, runs, work):
    if not (shutil.which("Xvfb") and shutil.which("xclip")):
        print("opclip: skipped (needs Xvfb and xclip)")
        return
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        display = ":" + os.read(read_end, 64).decode().strip()
        env = dict(os.environ, DISPLAY=display)
        env.pop("WAYLAND_DISPLAY", None)
        source = os.path.join(work, "clip.txt")
        rnd = random.Random(3)
        text = "".join(rnd.choice("01") for _ in range(10**6))
        with open(source, "w") as f:
            f.write(text)
        owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-in", source],
                                 env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while subprocess.run(["xclip", "-selection", "clipboard", "-out"], env=env,
                             capture_output=True).stdout != text.encode():
            if time.monotonic() > deadline:
                sys.exit("could not set the clipboard")
            time.sleep(0.1)
        fetch = "xclip -selection clipboard -out -target UTF8_STRING > clip.out && "
        tool_runs, shell_runs = compare(work, "the clipboard", runs,
                                        lambda cwd: drive([opclip], cwd, env),
                                        lambda cwd: pipeline("clip.out", cwd, env, fetch))
        print()
        print("%-22s %11s %11s %7s  %13s  %11s" % ("opclip", "tool", "pipeline", "ratio",
                                                   "peak RSS", "screen out"))
        row("10^6 characters", statistics.median(r[0] for r in tool_runs),
            statistics.median(shell_runs), max(r[1] for r in tool_runs), tool_runs[0][2])
        owner.kill()
        owner.wait()
    finally:
        server.terminate()
        server.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--opfile", default=os.path.join(REPO, "build", "default", "opfile", "opfile"))
    parser.add_argument("--opclip", default=os.path.join(REPO, "build", "default", "opclip", "opclip"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="opbench-")
    try:
        bench_opfile(os.path.abspath(args.opfile), args.runs, work)
        bench_opclip(os.path.abspath(args.opclip), args.runs, work)
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
