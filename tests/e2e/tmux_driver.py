"""Drive a console program inside a private tmux server and read its screen.

Shared by the end-to-end tests of the console tools and scripts/screenshot.py.
Every pane lives in its own tmux server (``tmux -L <unique name> -f
/dev/null``), so tests never see each other's windows or the user's own tmux
configuration.
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
from typing import List, Optional, Sequence

DEFAULT_TIMEOUT = 10.0
POLL_INTERVAL = 0.05

# Files the launch script leaves in the working directory.
STATUS_FILE = "status"          # exit status as the shell reports it (128+N for signal N)
PID_FILE = "pid"                # process id of the program under test
STTY_BEFORE = "stty.before"     # `stty -g` of the pane's terminal before the run
STTY_AFTER = "stty.after"       # ... and after it
LAUNCH_FILES = (STATUS_FILE, PID_FILE, STTY_BEFORE, STTY_AFTER)

# What both tools say and write, and an older OpSymbs.inc.
QUESTION = "Callsign used, or other comments for .INC file  "
OVERWRITE_NOTICE = "    Overwriting old OpSymbs.inc"
WRITTEN = "OpSymbs.inc Written"
OLD_INCLUDE = b";old comment\r\n\r\n        de   b'11110000'\r\n"
NOT_BITS = bytes(b for b in range(256) if b not in b"01")
# SGR codes of the colours the tools use: 7, 3 and the black background.
GREY, CYAN, BLACK = 37, 36, 40


def bit_groups(data):
    """The groups of eight bits of a text or of bytes, the last padded with
    zeros, and the number of bits."""
    bits = (data.encode() if isinstance(data, str) else data).translate(None, NOT_BITS).decode()
    return [bits[i:i + 8].ljust(8, "0") for i in range(0, len(bits), 8)], len(bits)


def expected_include(comment, data):
    """OpSymbs.inc for a comment and the text or bytes fed."""
    groups, _ = bit_groups(data)
    lines = [";" + comment, ""] + (["        de   b'%s'" % g for g in groups] or ["'"])
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


@dataclass(frozen=True)
class Cell:
    char: str
    fg: Optional[int]  # SGR foreground code (30-37, 90-97) or None = default
    bg: Optional[int]  # SGR background code (40-47, 100-107) or None = default


_ESCAPE = re.compile(
    r"\x1b\[(?P<csi>[0-9;:?]*)(?P<final>[@-~])"    # CSI ... final byte
    r"|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)"          # OSC ... BEL / ST
    r"|\x1b[()][0-9A-Za-z]"                        # charset designation
    r"|\x1b[=>78]"                                 # keypad modes, save/restore cursor
)


def _apply_sgr(params: str, fg, bg):
    # tmux gives the 16 colours as 30-37/90-97 and 40-47/100-107; other
    # codes (bold, underline, ...) do not change colours.
    for code in (int(p or 0) for p in re.split(r"[;:]", params)):
        if code == 0:
            fg = bg = None
        elif 30 <= code <= 37 or 90 <= code <= 97:
            fg = code
        elif 40 <= code <= 47 or 100 <= code <= 107:
            bg = code
        elif code in (39, 49):
            fg, bg = (None, bg) if code == 39 else (fg, None)
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


def wait_for(predicate, what, timeout=DEFAULT_TIMEOUT, explain=lambda: ""):
    """Polls predicate() until it gives something true, and returns that."""
    deadline = time.monotonic() + timeout
    while not (result := predicate()):
        if time.monotonic() > deadline:
            raise DeadlineError("timed out after %.0f s waiting for %s%s" % (timeout, what, explain()))
        time.sleep(POLL_INTERVAL)
    return result


class TmuxPane:
    """One pane in a private tmux server."""

    def __init__(self, width: int = 80, height: int = 24):
        self.width = width
        self.height = height
        self.server = "e2e-%d-%s" % (os.getpid(), uuid.uuid4().hex[:10])
        self.socket = None
        self.env = dict(os.environ)
        self.env.setdefault("TERM", "xterm-256color")
        self.env["LC_ALL"] = "C.UTF-8"  # a terminal that can show every glyph
        self.env.pop("TMUX", None)  # never talk to an enclosing tmux

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
        self.socket = self.tmux("display-message", "-p", "#{socket_path}").strip()

    def close(self) -> None:
        if self.socket:
            self.tmux("kill-server", check=False)
            if os.path.exists(self.socket):  # tmux leaves it behind
                os.unlink(self.socket)
            self.socket = None

    def cells(self) -> List[List[Cell]]:
        rows = parse_screen(self.tmux("capture-pane", "-p", "-e"))
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

    def wait_until(self, predicate, what, timeout=DEFAULT_TIMEOUT) -> List[List[Cell]]:
        """Poll the pane until predicate(lines) holds; return the cells then."""
        def ready():
            cells = self.cells()
            return cells if predicate([row_text(row) for row in cells]) else None
        return wait_for(ready, what, timeout, lambda: "; pane:\n" + self.dump())

    def wait_for_text(self, text: str, timeout: float = DEFAULT_TIMEOUT) -> List[List[Cell]]:
        return self.wait_until(lambda lines: any(text in line for line in lines), repr(text), timeout)

    def wait_for_file(self, path: str, timeout: float = DEFAULT_TIMEOUT) -> str:
        """Wait until a file the launch script writes exists; return its content."""
        wait_for(lambda: os.path.exists(path), path, timeout, lambda: "; pane:\n" + self.dump())
        with open(path) as f:
            return f.read()

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
    """A test that works in a fresh scratch directory (self.dir) of its own,
    with the steps of a run in a pane (self.pane) that the tools share."""

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

    def file(self, name, data=None):
        """The path of `name` in the scratch directory, written first if data is given."""
        path = os.path.join(self.dir, name)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    def snapshot(self):
        """What the scratch directory holds, the launch files aside: each
        file's bytes, a link's target, a directory's names."""
        def content(path):
            if os.path.islink(path):
                return os.readlink(path)
            return sorted(os.listdir(path)) if os.path.isdir(path) else self.read(path)
        return {name: content(self.file(name)) for name in os.listdir(self.dir) if name not in LAUNCH_FILES}

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

    # -- a run in a pane -------------------------------------------------------
    def start(self, argv, redirects="", width=80, height=24):
        self.pane = TmuxPane(width, height)
        self.addCleanup(self.pane.close)
        self.pane.start(launch_script(self.dir, argv, redirects), self.dir)

    def status(self, timeout=DEFAULT_TIMEOUT):
        return int(self.pane.wait_for_file(self.file(STATUS_FILE), timeout))

    def answer(self, question, typing):
        """Types at `question` a text, or (keys, text, what follows the question
        then) steps, then Enter."""
        self.pane.wait_for_text(question.rstrip())
        for keys, text, shown in [((), typing, typing)] if isinstance(typing, str) else typing:
            if keys:
                self.pane.send_keys(*keys)
            if "Escape" in keys:
                time.sleep(0.3)  # a person's pause, so Escape and the next key are not Alt+key
            if text:
                self.pane.send_text(text)
            self.pane.wait_until(lambda lines: (question + shown).rstrip() in lines,
                                 "%r after %s %r" % (shown, keys, text))
            self.assertFalse(os.path.exists(self.file(STATUS_FILE)), "program ended after %s" % (keys,))
        self.pane.send_keys("Enter")

    def assert_waiting_for_key(self):
        time.sleep(0.5)  # give a wrongly exiting program the chance to do so
        self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                         "program ended without waiting for a key:\n" + self.pane.dump())

    def press_key(self, *keys):
        """Presses a key (x unless given); returns the exit status. Nothing is
        written after the key."""
        screen = self.pane.lines()
        self.pane.send_keys(*keys) if keys else self.pane.send_text("x")
        status = self.status()
        self.assertEqual(self.pane.lines(), screen, "output after the key")
        return status

    def assert_terminal_restored(self):
        self.assertEqual(self.read(self.file(STTY_BEFORE)), self.read(self.file(STTY_AFTER)),
                         "stty -g differs after the run")

    def assert_screen(self, cells, rows):
        """The pane shows `rows` (text, (fg, bg) of every cell written, or None)
        from the top, or once they have scrolled, their last ones above the
        row where the cursor waits, and nothing else."""
        rows = rows + [("", None)]
        rows = rows[-len(cells):] if len(rows) > len(cells) else rows + [("", None)] * (len(cells) - len(rows))
        dump = "\n" + self.pane.dump()
        self.assertEqual([row_text(row) for row in cells], [text.rstrip() for text, _ in rows], dump)
        for i, (text, colours) in enumerate(rows):
            if colours:
                written = cells[i][:len(row_text(cells[i]))]
                self.assertEqual({(cell.fg, cell.bg) for cell in written}, {colours}, "row %d%s" % (i, dump))
            if text != text.rstrip():  # its trailing spaces
                self.assertEqual(self.pane.written_lines()[i], text, dump)

    def run_writing(self, argv, answers, rows, include, redirects="", size=(80, 24)):
        """A run that writes OpSymbs.inc: each (question, typing) answered, the
        screen `rows`, no bell, a wait for one key, exit status 0, OpSymbs.inc
        holding `include` and nothing else changed, the terminal's modes back."""
        before = self.snapshot()
        self.start(argv, redirects, *size)
        for question, typing in answers:
            self.answer(question, typing)
        self.assert_screen(self.pane.wait_until(lambda lines: rows[-1][0] in lines, repr(rows[-1][0])), rows)
        self.assertFalse(self.pane.bell_rung(), "bell on a successful run")
        self.assert_waiting_for_key()
        self.assertEqual(self.press_key("S-F3"), 0)  # a key shaped like a cursor report
        self.assertEqual(self.snapshot(), dict(before, **{"OpSymbs.inc": include}))
        self.assert_terminal_restored()

    def run_not_writing(self, argv, rows, status, question, meanwhile=None):
        """A run that writes nothing: the answer that `rows` show after
        `question` typed, after `meanwhile` has happened; then the bell, a wait
        for a key before exit status 1 or none before 0, the screen `rows`, and
        the scratch directory and the terminal's modes as they were."""
        answers = [text[len(question):] for text, _ in rows if text.startswith(question)]
        before = self.snapshot()
        self.start(argv)
        if meanwhile:
            self.pane.wait_for_text(question.rstrip())
            meanwhile()
            before = self.snapshot()
        for answer in answers:
            self.answer(question, answer)
        self.pane.wait_until(lambda _: self.pane.bell_rung(), "the bell")
        if status:
            self.assert_waiting_for_key()
        self.assertEqual(self.press_key() if status else self.status(), status)
        self.assert_screen(self.pane.cells(), rows)
        self.assertEqual(self.snapshot(), before)
        self.assert_terminal_restored()
