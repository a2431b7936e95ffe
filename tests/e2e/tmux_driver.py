"""The console tools in a private tmux server (no user configuration) or on a pseudo-terminal of ours."""

import fcntl, os, re, select, shlex, shutil, signal, subprocess, sys, tempfile, termios, time, unittest  # noqa: E401
import uuid
from collections import namedtuple
from pathlib import Path

STATUS_FILE, PID_FILE, STTY_FILES = "status", "pid", ("stty.before", "stty.after")
QUESTION = "Callsign used, or other comments for .INC file  "
OVERWRITE_NOTICE, WRITTEN = "    Overwriting old OpSymbs.inc", "OpSymbs.inc Written"
OLD_INCLUDE = b";old comment\r\n\r\n        de   b'11110000'\r\n"
GREY, CYAN, BLACK = 37, 36, 40  # SGR codes of colours 7 and 3 and of the black background
IN_CI = os.environ.get("CI", "").lower() not in ("", "0", "false")
Cell = namedtuple("Cell", "char fg bg")  # SGR colour codes, None for the terminal's default


def bit_groups(data):  # groups of eight, the last padded with zeros, and the count of bits
    bits = re.sub(rb"[^01]", b"", data.encode() if isinstance(data, str) else data).decode()
    return [bits[i:i + 8].ljust(8, "0") for i in range(0, len(bits), 8)], len(bits)


def expected_include(comment, data):
    lines = [";" + comment, ""] + (["        de   b'%s'" % g for g in bit_groups(data)[0]] or ["'"])
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


def dialogue_rows(comment, data, result, per_row=1):  # from the question on; no data: no bits were read
    rows = [QUESTION + comment, "", ""]
    groups, count = bit_groups(data or b"")
    echo = ["".join("     " + g for g in groups[i:i + per_row]) for i in range(0, len(groups), per_row)]
    return rows + (["", *echo, "", result, " %d Bits" % count] if data else [result])


def parse_screen(captured):  # capture-pane -e gives colour changes only, carried over row ends
    rows, fg, bg = [], None, None
    for line in captured.split("\n")[:-1]:
        rows.append([])
        for i, part in enumerate(re.split(r"\x1b\[([0-9;:]*)m", line)):
            if i % 2 == 0:
                rows[-1] += [Cell(c, fg, bg) for c in part]
            for code in [int(p or 0) for p in re.split("[;:]", part)] if i % 2 else []:
                fg = None if code in (0, 39) else code if 30 <= code <= 37 or 90 <= code <= 97 else fg
                bg = None if code in (0, 49) else code if 40 <= code <= 47 or 100 <= code <= 107 else bg
    return rows


def row_text(row): return "".join(cell.char for cell in row).rstrip()


def wait_for(predicate, what, timeout=10, explain=lambda: ""):
    deadline = time.monotonic() + timeout
    while not (result := predicate()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s%s" % (timeout, what, explain()))
        time.sleep(0.05)
    return result


class TmuxPane:
    def __init__(self, width=80, height=24):
        self.width, self.height, self.socket = width, height, None
        self.server = "e2e-%d-%s" % (os.getpid(), uuid.uuid4().hex[:10])
        self.env = {k: v for k, v in os.environ.items() if k != "TMUX"} | {"LC_ALL": "C.UTF-8"}  # every glyph
        self.env.setdefault("TERM", "xterm-256color")

    def tmux(self, *args, check=True):
        run = subprocess.run(["tmux", "-L", self.server, "-f", "/dev/null", *args], env=self.env,
                             capture_output=True, text=True, timeout=10)
        assert not (check and run.returncode), "tmux %s: %s" % (" ".join(args), run.stderr)
        return run.stdout

    def start(self, shell_command, cwd):
        self.tmux("new-session", "-d", "-x", str(self.width), "-y", str(self.height), "-c", cwd, shell_command)
        self.socket = self.tmux("display-message", "-p", "#{socket_path}").strip()

    def close(self):  # tmux leaves its socket behind
        self.socket and (self.tmux("kill-server", check=False), os.path.exists(self.socket) and os.unlink(self.socket))
        self.socket = None

    def cells(self): return parse_screen(self.tmux("capture-pane", "-p", "-e"))

    def lines(self): return [row_text(row) for row in self.cells()]

    def dump(self): return "\n" + "\n".join("%2d|%s" % row for row in enumerate(self.lines()))

    def bell_rung(self):  # the session is detached: the window keeps its bell flag
        return self.tmux("display-message", "-p", "#{window_bell_flag}").strip() == "1"

    def wait_until(self, predicate, what, timeout=10):  # the cells once predicate(lines) holds
        return wait_for(lambda: cells if predicate(list(map(row_text, cells := self.cells()))) else None,
                        what, timeout, self.dump)

    def wait_for_text(self, text, timeout=10):
        return self.wait_until(lambda lines: any(text in line for line in lines), repr(text), timeout)

    def wait_for_file(self, path, timeout=10):
        return wait_for(lambda: os.path.exists(path), path, timeout, self.dump) and Path(path).read_text()

    def send_text(self, text): self.tmux("send-keys", "-l", text)

    def send_keys(self, *keys): keys and self.tmux("send-keys", *keys)


def launch_script(workdir, argv, redirects=""):  # pid, stty -g before and after, the exit status last
    inner = shlex.quote("echo $$ > p.tmp; mv p.tmp %s; exec %s %s" % (PID_FILE, shlex.join(argv), redirects))
    return "sh -c " + shlex.quote("cd %s || exit 1; printf '\\033[H\\033[2J'; stty -g > %s; sh -c %s; echo $? > s.tmp; "
                                  "stty -g > %s; mv s.tmp %s; sleep 600"
                                  % (shlex.quote(workdir), STTY_FILES[0], inner, STTY_FILES[1], STATUS_FILE))


class PtyProgram:  # on a pseudo-terminal of ours, every byte kept, cursor queries answered (top left)

    def __init__(self, argv, cwd, env=None, typed_ahead=b"", nonblocking=False):
        self.output, self.answered, self.status = b"", 0, None
        self.fd, self.terminal = os.openpty()
        self.modes = termios.tcgetattr(self.terminal)
        if (pid := os.fork()) == 0:
            try:
                [signal.signal(number, signal.SIG_DFL) for number in (signal.SIGINT, signal.SIGQUIT, signal.SIGPIPE)]
                os.setsid(), fcntl.ioctl(self.terminal, termios.TIOCSCTTY, 0)  # the controlling terminal
                [os.dup2(self.terminal, stream) for stream in (0, 1, 2)]
                select.select([0], [], [], 10) if typed_ahead else None  # until the line is complete
                nonblocking and fcntl.fcntl(1, fcntl.F_SETFL, fcntl.fcntl(1, fcntl.F_GETFL) | os.O_NONBLOCK)
                os.chdir(cwd), os.execvpe(argv[0], list(argv), dict(os.environ, **(env or {})))
            finally:
                os._exit(127)
        self.pid = pid
        os.write(self.fd, typed_ahead)

    def read(self, until=None, timeout=10):  # the output once `until` (bytes or a test) holds; None: the end
        deadline, seen = time.monotonic() + timeout, until if callable(until) else lambda output: until in output
        while until is None or not seen(self.output):
            if self.status is None and (ended := os.waitpid(self.pid, os.WNOHANG))[0]:
                self.status = os.waitstatus_to_exitcode(ended[1])
            if select.select([self.fd], [], [], 0.05)[0]:
                self.output += os.read(self.fd, 65536)
                while self.output.count(b"\x1b[6n") > self.answered:
                    self.answered += os.write(self.fd, b"\x1b[1;1R") > 0
            elif self.status is not None and until is None:
                return self.output
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %r; output ends %r" % (until, self.output[-300:]))
        return self.output

    def send(self, data): os.write(self.fd, data)

    def finish(self, timeout=10):  # the exit status (negative: the signal), whether the modes are back
        self.read(None, timeout)
        restored = termios.tcgetattr(self.fd) == self.modes
        os.close(self.fd), os.close(self.terminal)
        return self.status, restored


class ScratchTestCase(unittest.TestCase):
    read = staticmethod(lambda path: Path(path).read_bytes())

    def setUp(self): self.dir = self.new_dir()

    def new_dir(self): return self.addCleanup(shutil.rmtree, path := tempfile.mkdtemp(prefix="op-e2e-"), True) or path

    def file(self, name, data=None):  # made first from bytes, a link's target (text) or [] (a directory)
        path = os.path.join(self.dir, name)
        isinstance(data, bytes) and Path(path).write_bytes(data)
        os.symlink(data, path) if isinstance(data, str) else os.mkdir(path) if data == [] else None
        return path

    def snapshot(self):  # the launch script's files aside
        return {p.name: os.readlink(p) if p.is_symlink() else sorted(os.listdir(p)) if p.is_dir() else p.read_bytes()
                for p in Path(self.dir).iterdir() if p.name not in (STATUS_FILE, PID_FILE) + STTY_FILES}

    def run_tool(self, argv, answers, last, status, include=None, meanwhile=None, during=None):  # key awaited?
        before, self.pane = self.snapshot(), (pane := TmuxPane())
        self.addCleanup(pane.close)
        pane.start(launch_script(self.dir, argv), self.dir)
        if meanwhile:  # once the question shows
            pane.wait_for_text(QUESTION.rstrip())
            meanwhile()
            before = self.snapshot()
        for question, typing in answers:  # once asked: texts and tuples of key names, then Enter
            pane.wait_for_text(question.rstrip())
            for keys in [typing] if isinstance(typing, str) else typing:
                pane.send_keys(*keys) if isinstance(keys, tuple) else pane.send_text(keys)
            pane.send_keys("Enter")
        during and during()
        cells = pane.wait_for_text(last)
        if status or include is not None:
            time.sleep(0.5)  # a program that wrongly ends gets the time to
            self.assertFalse(os.path.exists(self.file(STATUS_FILE)), "no key wait" + pane.dump())
            pane.send_keys("S-F3")  # a key shaped like a cursor report
        self.assertEqual(int(pane.wait_for_file(self.file(STATUS_FILE))), status)
        self.assertEqual(pane.bell_rung(), include is None, "the bell")
        self.assertEqual(self.snapshot(), dict(before, **({} if include is None else {"OpSymbs.inc": include})))
        self.assertEqual(*[self.read(self.file(name)) for name in STTY_FILES], "stty -g after the run")
        return cells

    def assert_screen(self, cells, rows):  # (text, (fg, bg) or None) from the top, or the last ones if scrolled
        rows = (rows + [("", None)])[-len(cells):]
        rows += [("", None)] * (len(cells) - len(rows))
        self.assertEqual([row_text(row) for row in cells], [text for text, _ in rows], self.pane.dump())
        for i, (text, colours) in enumerate(rows):
            colours and self.assertEqual({(c.fg, c.bg) for c in cells[i][:len(text)]}, {colours}, "row %d" % i)


def main_under_xvfb():  # the tests with a private X server, for a clipboard of their own
    if "OP_XVFB" not in os.environ and shutil.which("xvfb-run"):
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-nolisten tcp -noreset", "env", "OP_XVFB=1", sys.executable,
                               *sys.argv])
    unittest.main()
