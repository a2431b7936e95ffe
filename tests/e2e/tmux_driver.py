"""Drive a console program inside a private tmux server and read its screen.

Shared by the end-to-end tests of the console tools.  Every pane lives in its
own tmux server (``tmux -L <unique name> -f /dev/null``), so tests never see
each other's windows or the user's own tmux configuration.
"""

import fcntl
import os
import re
import select
import shlex
import shutil
import subprocess
import tempfile
import termios
import time
import unittest
import uuid
from dataclasses import dataclass
from typing import Callable, List, Optional, Sequence

DEFAULT_TIMEOUT = 10.0
POLL_INTERVAL = 0.05

# Files the launch script leaves in the working directory.
STATUS_FILE = "status"          # exit status as the shell reports it (128+N for signal N)
PID_FILE = "pid"                # process id of the program under test
STTY_BEFORE = "stty.before"     # `stty -g` of the pane's terminal before the run
STTY_AFTER = "stty.after"       # ... and after it


@dataclass(frozen=True)
class Cell:
    char: str
    fg: Optional[int]  # SGR foreground code (30-37, 90-97), ("256", n), ("rgb", r, g, b) or None = default
    bg: Optional[int]  # SGR background code (40-47, 100-107), ... or None = default


_ESCAPE = re.compile(
    r"\x1b\[(?P<csi>[0-9;:?]*)(?P<final>[@-~])"    # CSI ... final byte
    r"|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)"          # OSC ... BEL / ST
    r"|\x1b[()][0-9A-Za-z]"                        # charset designation
    r"|\x1b[=>78]"                                 # keypad modes, save/restore cursor
)


def _palette(index: int, base: int, bright_base: int):
    """A 256-colour index, folded onto the 16 basic SGR codes where it is one."""
    if 0 <= index < 8:
        return base + index
    if 8 <= index < 16:
        return bright_base + index - 8
    return ("256", index)


def _apply_sgr(params: str, fg, bg):
    codes = [int(p) if p else 0 for p in re.split(r"[;:]", params)] if params else [0]
    i = 0
    while i < len(codes):
        code = codes[i]
        if code == 0:
            fg = bg = None
        elif 30 <= code <= 37 or 90 <= code <= 97:
            fg = code
        elif code == 39:
            fg = None
        elif 40 <= code <= 47 or 100 <= code <= 107:
            bg = code
        elif code == 49:
            bg = None
        elif code in (38, 48) and i + 1 < len(codes):
            if codes[i + 1] == 5 and i + 2 < len(codes):
                colour = _palette(codes[i + 2], code - 8, code + 52)
                i += 2
            elif codes[i + 1] == 2 and i + 4 < len(codes):
                colour = ("rgb",) + tuple(codes[i + 2:i + 5])
                i += 4
            else:
                colour = None
            if code == 38:
                fg = colour
            else:
                bg = colour
        # Other codes (bold, underline, reverse, ...) do not change colours.
        i += 1
    return fg, bg


def parse_screen(captured: str) -> List[List[Cell]]:
    """Turn `capture-pane -p -e` output into rows of coloured cells.

    tmux only emits an SGR sequence where the attributes change, and it carries
    the state over row ends, so the state is tracked through the whole capture.
    """
    rows: List[List[Cell]] = []
    fg = bg = None
    for line in captured.split("\n"):
        row: List[Cell] = []
        pos = 0
        for match in _ESCAPE.finditer(line):
            row.extend(Cell(ch, fg, bg) for ch in line[pos:match.start()])
            if match.group("final") == "m":
                fg, bg = _apply_sgr(match.group("csi"), fg, bg)
            pos = match.end()
        row.extend(Cell(ch, fg, bg) for ch in line[pos:])
        rows.append(row)
    if rows and not rows[-1]:
        rows.pop()  # capture output ends with a newline
    return rows


def row_text(row: Sequence[Cell]) -> str:
    return "".join(cell.char for cell in row).rstrip()


def visible_colours(row: Sequence[Cell]):
    """The set of (fg, bg) pairs of the row's non-blank cells."""
    return {(cell.fg, cell.bg) for cell in row if not cell.char.isspace()}


class DeadlineError(AssertionError):
    pass


class TmuxPane:
    """One pane in a private tmux server."""

    def __init__(self, width: int = 80, height: int = 24):
        self.width = width
        self.height = height
        self.server = "e2e-%d-%s" % (os.getpid(), uuid.uuid4().hex[:10])
        self.started = False
        self.env = dict(os.environ)
        self.env.setdefault("TERM", "xterm-256color")
        self.env["LC_ALL"] = "C.UTF-8"  # a terminal that can show every glyph
        self.env.pop("TMUX", None)  # never talk to an enclosing tmux

    # -- tmux plumbing ----------------------------------------------------
    def tmux(self, *args: str, check: bool = True) -> str:
        result = subprocess.run(
            ["tmux", "-L", self.server, "-f", "/dev/null", *args],
            env=self.env, capture_output=True, text=True, timeout=DEFAULT_TIMEOUT)
        if check and result.returncode != 0:
            raise RuntimeError("tmux %s failed (%d): %s"
                               % (" ".join(args), result.returncode, result.stderr.strip()))
        return result.stdout

    def start(self, shell_command: str, cwd: str) -> None:
        self.tmux("new-session", "-d", "-x", str(self.width), "-y", str(self.height),
                  "-c", cwd, shell_command)
        self.started = True

    def close(self) -> None:
        if self.started:
            self.tmux("kill-server", check=False)
            self.started = False

    # -- reading the screen ----------------------------------------------
    def capture_raw(self) -> str:
        return self.tmux("capture-pane", "-p", "-e")

    def cells(self) -> List[List[Cell]]:
        rows = parse_screen(self.capture_raw())
        rows.extend([] for _ in range(self.height - len(rows)))
        return rows

    def lines(self) -> List[str]:
        return [row_text(row) for row in self.cells()]

    def written_lines(self) -> List[str]:
        """The rows with the trailing spaces the program wrote kept (tmux
        remembers how far each row was written; cleared cells are not shown)."""
        return ["".join(cell.char for cell in row)
                for row in parse_screen(self.tmux("capture-pane", "-p", "-e", "-N"))]

    def dump(self) -> str:
        lines = self.lines()
        while lines and not lines[-1]:
            lines.pop()
        return "\n".join("%2d|%s" % (i, line) for i, line in enumerate(lines))

    def bell_rung(self) -> bool:
        """True once the program has rung the bell (the session is detached,
        so tmux keeps the window's bell flag set)."""
        return self.tmux("display-message", "-p", "#{window_bell_flag}").strip() == "1"

    def wait_until(self, predicate: Callable[[List[str]], bool], what: str,
                   timeout: float = DEFAULT_TIMEOUT) -> List[List[Cell]]:
        """Poll the pane until predicate(lines) holds; return the cells then."""
        deadline = time.monotonic() + timeout
        while True:
            cells = self.cells()
            if predicate([row_text(row) for row in cells]):
                return cells
            if time.monotonic() > deadline:
                raise DeadlineError("timed out after %.0f s waiting for %s; pane:\n%s"
                                    % (timeout, what, self.dump()))
            time.sleep(POLL_INTERVAL)

    def wait_for_text(self, text: str, timeout: float = DEFAULT_TIMEOUT) -> List[List[Cell]]:
        return self.wait_until(lambda lines: any(text in line for line in lines),
                               repr(text), timeout)

    def wait_for_file(self, path: str, timeout: float = DEFAULT_TIMEOUT) -> str:
        """Wait until a file the launch script writes exists; return its content."""
        deadline = time.monotonic() + timeout
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                raise DeadlineError("timed out after %.0f s waiting for %s; pane:\n%s"
                                    % (timeout, path, self.dump()))
            time.sleep(POLL_INTERVAL)
        with open(path) as f:
            return f.read()

    # -- typing ------------------------------------------------------------
    def send_text(self, text: str) -> None:
        self.tmux("send-keys", "-l", text)

    def send_keys(self, *keys: str) -> None:
        self.tmux("send-keys", *keys)


class PtyProgram:
    """A program on a pseudo-terminal of the test's own, for what a tmux pane
    hides: every byte the program writes is kept as it is, its cursor query is
    answered (top left), and reading can be held back, so that the program
    blocks in its writes.  With `typed_ahead` the program starts only once that
    text has been typed into the terminal's line editing, as a quick typist's
    keys would be."""

    def __init__(self, argv, cwd, env=None, typed_ahead=b"", nonblocking=False):
        self.output = b""
        self.answered = 0
        self.status = None
        self.fd, self.terminal = os.openpty()
        self.modes = termios.tcgetattr(self.terminal)
        self.pid = os.fork()
        if self.pid == 0:  # the child: the terminal becomes its controlling one
            try:
                os.close(self.fd)
                os.setsid()
                fcntl.ioctl(self.terminal, termios.TIOCSCTTY, 0)
                for stream in (0, 1, 2):
                    os.dup2(self.terminal, stream)
                os.chdir(cwd)
                if typed_ahead:
                    select.select([0], [], [], DEFAULT_TIMEOUT)  # until the line is complete
                if nonblocking:
                    fcntl.fcntl(1, fcntl.F_SETFL, fcntl.fcntl(1, fcntl.F_GETFL) | os.O_NONBLOCK)
                os.execvpe(argv[0], list(argv), dict(os.environ, **(env or {})))
            finally:
                os._exit(127)
        os.write(self.fd, typed_ahead)

    def read(self, until=None, timeout=DEFAULT_TIMEOUT):
        """Reads what comes until `until` (bytes, or a compiled pattern) shows,
        or the program has ended and said everything (until None); returns all
        output so far."""
        deadline = time.monotonic() + timeout
        seen = until.search if isinstance(until, re.Pattern) else lambda output: until in output
        while until is None or not seen(self.output):
            if self.status is None:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
                if pid:
                    self.status = os.waitstatus_to_exitcode(status)
            ready = select.select([self.fd], [], [], 0.05)[0]
            if ready:
                self.output += os.read(self.fd, 65536)
                while self.output.count(b"\x1b[6n") > self.answered:
                    os.write(self.fd, b"\x1b[1;1R")
                    self.answered += 1
            elif self.status is not None and until is None:
                return self.output
            if time.monotonic() > deadline:
                raise DeadlineError("timed out waiting for %r; output ends %r" % (until, self.output[-300:]))
        return self.output

    def send(self, data: bytes) -> None:
        os.write(self.fd, data)

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Reads to the end; returns the exit status (negative: the signal) and
        whether the terminal's modes are what they were before the program."""
        self.read(None, timeout)
        restored = termios.tcgetattr(self.fd) == self.modes  # the master reads the terminal's modes
        os.close(self.fd)
        os.close(self.terminal)
        return self.status, restored


def launch_script(workdir: str, argv: Sequence[str], redirects: str = "",
                  survive_interrupt: bool = False) -> str:
    """A shell command that runs argv in workdir and records its outcome.

    The screen is cleared first so the program starts at the top left.  The
    program's pid goes to PID_FILE (an inner shell execs it); `stty -g` is kept
    before and after; the exit status is written last, atomically, so once
    STATUS_FILE exists the other files are complete.  The pane then stays open.

    With survive_interrupt the launching shell traps SIGINT: a Ctrl+C that the
    terminal sends as SIGINT to the whole foreground group (a program that
    leaves the terminal's ISIG on) then ends at most the program, which gets
    the default disposition, and its outcome is still recorded.
    """
    program = " ".join(shlex.quote(a) for a in argv)
    inner = "echo $$ > %s.tmp; mv %s.tmp %s; exec %s %s" % (
        PID_FILE, PID_FILE, PID_FILE, program, redirects)
    script = (
        ("trap : INT; " if survive_interrupt else "") +
        "cd %s || exit 1; printf '\\033[H\\033[2J'; stty -g > %s; "
        "sh -c %s; echo $? > %s.tmp; stty -g > %s; mv %s.tmp %s; sleep 600"
        % (shlex.quote(workdir), STTY_BEFORE, shlex.quote(inner),
           STATUS_FILE, STTY_AFTER, STATUS_FILE, STATUS_FILE))
    return "sh -c %s" % shlex.quote(script)


class ScratchTestCase(unittest.TestCase):
    """A test that works in a fresh scratch directory (self.dir) of its own."""

    def setUp(self):
        self.dir = self.new_dir()

    def new_dir(self):
        path = tempfile.mkdtemp(prefix="op-e2e-")
        self.addCleanup(shutil.rmtree, path, True)
        return path

    @staticmethod
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    def assert_help_and_version(self, program, usage_line):
        """--help and --version answer on standard output and touch nothing."""
        name = os.path.basename(program)
        for option, answer in (("--help", usage_line + rb"\n(.*\n)*.*man " + name.encode() + rb"\n"),
                               ("--version", name.encode() + rb" \d+\.\d+\.\d+\n")):
            run = subprocess.run([program, option], cwd=self.dir, stdin=subprocess.DEVNULL,
                                 capture_output=True, timeout=10)
            self.assertEqual((run.returncode, run.stderr), (0, b""), option)
            self.assertRegex(run.stdout, re.compile(answer), option)
        self.assertEqual(os.listdir(self.dir), [])

    def file(self, name, data=None):
        """The path of `name` in the scratch directory, written first if data is given."""
        path = os.path.join(self.dir, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path
