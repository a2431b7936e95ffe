"""End-to-end tests: the real opclip binary in a real terminal (tmux), reading a
real X clipboard (a private Xvfb server; the clipboard is set with xclip).

Run with OPCLIP=<built opclip> python3 test_opclip.py -v
Without Xvfb or xclip the tests are skipped, unless CI is set: then they fail.
"""

import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (ScratchTestCase, BLACK, DEFAULT_TIMEOUT, GREY, OLD_INCLUDE,  # noqa: E402
                         OVERWRITE_NOTICE, QUESTION, WRITTEN, bit_groups, expected_include, wait_for)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OPCLIP = os.path.abspath(os.environ.get("OPCLIP",
                                        os.path.join(REPO, "build", "default", "opclip", "opclip")))

BANNER = "Generate OPERA Data include file from clipboard"
HEADING = "Clipboard Data"
WARNING = "Characters other than '1' and '0' stored in clipboard data  "
ABORT = "Abort   Y/n"
YELLOW, MAGENTA = 93, 95
WIDTH = 80
GLYPHS = {"\r": "\u240d", "\n": "\u240a", "\t": "\u2409"}  # shown instead of being obeyed


def in_cp1252(text):
    return text.encode("cp1252", errors="replace")  # '?' for what the code page lacks


def needs_warning(text):
    return any(code >= 50 for code in in_cp1252(text))


def shown(text):
    return "".join(GLYPHS.get(ch, ch) for ch in in_cp1252(text).decode("cp1252"))


def expected_screen(text, answer=None, overwrite=False, comment=None):
    """(row, colour) pairs from the top down to the abort question (comment None)
    or down to the bit count; colour is the (fg, bg) of the row's cells,
    None where not checked."""
    text_rows = [shown(text)[i:i + WIDTH] for i in range(0, len(shown(text)), WIDTH)]
    rows = [(BANNER, (YELLOW, BLACK)), (HEADING, (MAGENTA, BLACK))]
    rows += [(row, (MAGENTA, BLACK)) for row in text_rows] or [("", None)]
    if needs_warning(text):
        rows += [(WARNING, None), (ABORT + answer, None)]
    if comment is None:
        return rows
    if overwrite:
        rows += [(OVERWRITE_NOTICE, None), ("", None)]
    groups, count = bit_groups(text)
    # A row of 32 bits ends after its last complete group.
    echo = "".join("     " + g + ("\n" if i % 4 == 3 and 8 * i + 8 <= count else "")
                   for i, g in enumerate(groups))
    tail = QUESTION + comment + "\n\n\n\n%s\n\n%s\n %d Bits" % (echo, WRITTEN, count)
    return rows + [(row, (GREY, BLACK) if row.strip() else None) for row in tail.split("\n")]


def start_xvfb():
    """A private X server on a free display: (process, ':N')."""
    with tempfile.TemporaryFile() as log:
        read_end, write_end = os.pipe()
        try:
            # -noreset: no server reset when the last client leaves, during
            # which a new client (the next clipboard owner) would be refused.
            server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                       "-noreset"], pass_fds=(write_end,), stdout=log, stderr=log)
        finally:
            os.close(write_end)
        number, deadline = b"", time.monotonic() + 30
        try:
            while not number.endswith(b"\n"):
                ready = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))[0]
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    server.kill()
                    server.wait()
                    log.seek(0)
                    raise RuntimeError("Xvfb gave no display number:\n"
                                       + log.read().decode(errors="replace"))
                number += chunk
        finally:
            os.close(read_end)
    return server, ":" + number.decode().strip()


class OpclipTest(ScratchTestCase):
    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in ("Xvfb", "xclip") if not shutil.which(tool)]
        if missing:
            reason = "%s not installed (Debian packages xvfb, xclip)" % " and ".join(missing)
            if os.environ.get("CI", "").lower() not in ("", "0", "false"):
                raise RuntimeError(reason + "; CI must run the opclip tests")
            raise unittest.SkipTest(reason)
        cls.owners = []  # xclip processes that hold (or held) the clipboard
        cls.addClassCleanup(cls.stop_x)
        cls.xvfb, cls.display = start_xvfb()

    @classmethod
    def stop_x(cls):
        for owner, log in cls.owners:
            owner.kill()
            owner.wait()
            log.close()
        if getattr(cls, "xvfb", None):
            cls.xvfb.terminate()  # lets it remove its socket and lock file
            try:
                cls.xvfb.wait(DEFAULT_TIMEOUT)
            except subprocess.TimeoutExpired:
                cls.xvfb.kill()
                cls.xvfb.wait()

    @classmethod
    def set_clipboard(cls, text):
        """Make a new xclip own the clipboard and wait until it serves `text`."""
        data = text.encode("utf-8")
        env = dict(os.environ, DISPLAY=cls.display)
        log = tempfile.TemporaryFile()
        owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-in"],
                                 stdin=subprocess.PIPE, stdout=log, stderr=log, env=env)
        cls.owners.append((owner, log))
        owner.stdin.write(data)
        owner.stdin.close()

        def served():
            if owner.poll() not in (None, 0):
                log.seek(0)
                raise AssertionError("xclip ended with %s: %r" % (owner.poll(), log.read()))
            out = subprocess.run(["xclip", "-selection", "clipboard", "-out", "-target", "UTF8_STRING"],
                                 env=env, capture_output=True, timeout=DEFAULT_TIMEOUT)
            return out.returncode == 0 and out.stdout == data
        wait_for(served, "the clipboard to hold %r" % data)

    def setUp(self):
        self.assertTrue(os.access(OPCLIP, os.X_OK), "opclip binary not found: %s" % OPCLIP)
        super().setUp()
        os.environ["DISPLAY"] = self.display  # for the panes to come
        os.environ.pop("WAYLAND_DISPLAY", None)

    def helper_dir(self, **scripts):
        """A directory holding only the given shell scripts, for PATH."""
        path = self.new_dir()
        for name, body in scripts.items():
            with open(os.path.join(path, name), "w") as f:
                f.write("#!/bin/sh\necho \"$@\" > %s/args\n%s\n" % (path, body.format(dir=path)))
            os.chmod(os.path.join(path, name), 0o755)
        return path

    def test_runs_that_write(self):
        foreign = "0101 1100 2\r\n"  # '2' is code 50
        xsel = self.helper_dir(xsel="printf '1100 0011\\n'")
        # What xclip says when nothing was copied: an empty clipboard.
        empty = self.helper_dir(xclip="echo 'Error: target UTF8_STRING not available' >&2; exit 1")
        cases = [  # (clipboard text, answer to the warning, an old OpSymbs.inc, PATH of the helpers)
            ("0110100111110000\r\n10101010\r\n", None, False, None),
            ("0110-1001, 1010.0101/1100 1111\t+\r\n", None, True, None),  # codes below 50
            *[(foreign, answer, True, None) for answer in ("n", " N ", "n, whatever", '"n"', '"N"')],
            (", ".join("10110011" "01011100" "11110000" "00011101" "1"), None, False, None),  # on two rows
            ("10110011 01011100 11110000 0001", None, False, None),  # 28 bits: one row of 32
            ("", None, False, None),
            ("01\u00e9\u20ac\u4e2d", "n", False, None),  # shown in the code page, with '?' for what it lacks
            ("1100 0011\n", None, False, xsel),
            ("", None, True, empty),
        ]
        for text, answer, overwrite, path in cases:
            with self.subTest(text=text, answer=answer, path=path):
                self.dir = self.new_dir()
                if overwrite:
                    self.file("OpSymbs.inc", OLD_INCLUDE)
                self.set_clipboard(text)
                argv = [shutil.which("env"), "PATH=" + path, OPCLIP] if path else [OPCLIP]
                answers = [(ABORT, answer)] * needs_warning(text) + [(QUESTION, "DL1ABC JO31")]
                self.run_writing(argv, answers, expected_screen(text, answer, overwrite, "DL1ABC JO31"),
                                 expected_include("DL1ABC JO31", text))
        self.assertEqual(self.read(os.path.join(xsel, "args")), b"--clipboard --output\n")

    def test_runs_that_write_nothing(self):
        text = "0101 1100 2\r\n"
        self.set_clipboard(text)
        env = shutil.which("env")
        failing = self.helper_dir(xclip="printf 1111; echo helper failed >&2; exit 1")
        hanging = self.helper_dir(xclip="echo $$ > {dir}/pid; exec %s 600" % shutil.which("sleep"))
        self.addCleanup(self.kill_hanging_helper, os.path.join(hanging, "pid"))
        cases = [  # (answer to the warning, or what is reported, and the words before opclip)
            *[(answer, []) for answer in ("", "y", "Y", "no", "x", ",n")],
            ("No clipboard reader: install xclip, xsel or wl-clipboard", [env, "PATH=" + self.new_dir()]),
            ("No clipboard: neither DISPLAY nor WAYLAND_DISPLAY is set", [env, "-u", "DISPLAY"]),
            ("Clipboard not read: xclip failed: helper failed, xsel is not installed", [env, "PATH=" + failing]),
            ("Clipboard not read: xclip did not answer within 2 s", [env, "PATH=" + hanging]),
        ]
        for answer, before in cases:
            with self.subTest(answer):
                self.dir = self.new_dir()
                self.file("OpSymbs.inc", OLD_INCLUDE)
                failed = [(BANNER, (YELLOW, BLACK)), (answer, (GREY, BLACK))]
                self.run_not_writing(before + [OPCLIP], failed if before else expected_screen(text, answer),
                                     1 if before else 0, ABORT)
        self.assertEqual(self.read(os.path.join(failing, "args")),
                         b"-selection clipboard -out -target UTF8_STRING\n")

    def kill_hanging_helper(self, pid_file):
        if os.path.exists(pid_file):
            pid = int(self.read(pid_file))
            try:
                if b"sleep" in self.read("/proc/%d/cmdline" % pid):
                    os.kill(pid, signal.SIGKILL)
            except (FileNotFoundError, ProcessLookupError):
                pass

    def test_help_and_version_touch_nothing(self):
        self.assert_help_and_version(OPCLIP, rb"Usage: opclip")


if __name__ == "__main__":
    unittest.main()
