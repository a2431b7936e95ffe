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
from tmux_driver import (ScratchTestCase, DEFAULT_TIMEOUT, POLL_INTERVAL, STATUS_FILE, STTY_AFTER,  # noqa: E402
                         STTY_BEFORE, TmuxPane, launch_script, row_text, visible_colours)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OPCLIP = os.path.abspath(os.environ.get("OPCLIP",
                                        os.path.join(REPO, "build", "default", "opclip", "opclip")))

BANNER = "Generate OPERA Data include file from clipboard"
HEADING = "Clipboard Data"
WARNING = "Characters other than '1' and '0' stored in clipboard data  "
ABORT = "Abort   Y/n"
OVERWRITE_NOTICE = "    Overwriting old OpSymbs.inc"
QUESTION = "Callsign used, or other comments for .INC file  "
WRITTEN = "OpSymbs.inc Written"
YELLOW, MAGENTA, GREY, BLACK = 93, 95, 37, 40
WIDTH = 80
GLYPHS = {"\r": "\u240d", "\n": "\u240a", "\t": "\u2409"}  # shown instead of being obeyed
OLD_INCLUDE = b";old comment\r\n\r\n        de   b'11110000'\r\n"


def in_cp1252(text):
    return text.encode("cp1252", errors="replace")  # '?' for what the code page lacks


def needs_warning(text):
    return any(code >= 50 for code in in_cp1252(text))


def shown(text):
    return "".join(GLYPHS.get(ch, ch) for ch in in_cp1252(text).decode("cp1252"))


def bit_groups(text):
    bits = "".join(ch for ch in text if ch in "01")
    return [bits[i:i + 8].ljust(8, "0") for i in range(0, len(bits), 8)], len(bits)


def expected_include(comment, text):
    groups, _ = bit_groups(text)
    lines = [";" + comment, ""] + (["        de   b'%s'" % g for g in groups] or ["'"])
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def expected_screen(text, answer=None, overwrite=False, comment=None):
    """(row, colour) pairs from the top down to the abort question (comment None)
    or down to the bit count; colour is the (fg, bg) of the row's visible cells,
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
    echo = "".join("     " + g + ("\n" if i % 4 == 3 else "") for i, g in enumerate(groups))
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
            if owner.poll() is None:
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
        deadline = time.monotonic() + DEFAULT_TIMEOUT
        while True:
            served = subprocess.run(
                ["xclip", "-selection", "clipboard", "-out", "-target", "UTF8_STRING"],
                env=env, capture_output=True, timeout=DEFAULT_TIMEOUT)
            if served.returncode == 0 and served.stdout == data:
                return
            if time.monotonic() > deadline or owner.poll() not in (None, 0):
                log.seek(0)
                raise AssertionError("clipboard not set to %r: %r; xclip (status %s) said: %r"
                                     % (data, served, owner.poll(), log.read()))
            time.sleep(POLL_INTERVAL)

    def setUp(self):
        self.assertTrue(os.access(OPCLIP, os.X_OK), "opclip binary not found: %s" % OPCLIP)
        super().setUp()

    # -- helpers -------------------------------------------------------------
    def start(self, *argv):
        """opclip (or argv, e.g. run through env) in a new pane, in a new scratch directory."""
        self.pane = TmuxPane(WIDTH, 24)
        self.addCleanup(self.pane.close)
        self.pane.env["DISPLAY"] = self.display
        self.pane.env.pop("WAYLAND_DISPLAY", None)
        self.pane.env["LC_ALL"] = "C.UTF-8"  # a terminal that can show the glyphs at all
        self.pane.start(launch_script(self.dir, list(argv) or [OPCLIP]), self.dir)
        return self.pane

    def assert_screen(self, cells, expected):
        lines = [row_text(row) for row in cells]
        dump = "\n" + self.pane.dump()
        self.assertEqual(lines[:len(expected)], [row.rstrip() for row, _ in expected], dump)
        self.assertEqual(set(lines[len(expected):]), {""}, "unexpected rows below" + dump)
        for i, (row, colour) in enumerate(expected):
            if colour:
                self.assertEqual(visible_colours(cells[i]), {colour}, "colours of row %d%s" % (i, dump))
            if row == WARNING:  # its two trailing spaces
                self.assertEqual(self.pane.written_lines()[i], WARNING, dump)

    def answer_abort_question(self, answer):
        self.pane.wait_for_text(ABORT)
        if answer:
            self.pane.send_text(answer)
        self.pane.send_keys("Enter")

    def assert_terminal_restored(self):
        self.assertEqual(self.read(self.file(STTY_BEFORE)), self.read(self.file(STTY_AFTER)),
                         "stty -g differs after the run")

    def run_to_end(self, text, comment, answer="n", overwrite=False, argv=()):
        """A whole run that writes OpSymbs.inc: opclip is to get `text` from the
        clipboard (set beforehand); the answer is given when a warning is due."""
        self.start(*argv)
        if needs_warning(text):
            self.answer_abort_question(answer)
        self.pane.wait_for_text(QUESTION.rstrip())
        self.pane.send_text(comment)
        self.pane.send_keys("Enter")
        count = bit_groups(text)[1]
        cells = self.pane.wait_until(lambda lines: " %d Bits" % count in lines, "' %d Bits'" % count)
        self.assert_screen(cells, expected_screen(text, answer, overwrite, comment))
        self.assertFalse(self.pane.bell_rung(), "bell on a successful run")
        time.sleep(0.5)  # give a wrongly exiting program the chance to do so
        self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                         "program ended without waiting for a key:\n" + self.pane.dump())
        screen_before_key = self.pane.lines()
        self.pane.send_text("x")
        self.assertEqual(int(self.pane.wait_for_file(self.file(STATUS_FILE))), 0)
        self.assertEqual(self.pane.lines(), screen_before_key, "output after the key")
        self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include(comment, text))
        self.assert_terminal_restored()

    # -- tests -----------------------------------------------------------------
    def test_bits_with_crlf_full_run(self):
        text = "0110100111110000\r\n10101010\r\n"
        self.set_clipboard(text)
        self.run_to_end(text, "DL1ABC JO31")
        self.assertEqual(self.pane.lines()[2], "0110100111110000\u240d\u240a10101010\u240d\u240a")
        self.assertEqual(self.pane.lines()[7], "     01101001     11110000     10101010")

    def test_separators_below_code_50_give_no_warning_and_old_file_is_overwritten(self):
        text = "0110-1001, 1010.0101/1100 1111\t+\r\n"
        self.set_clipboard(text)
        self.file("OpSymbs.inc", OLD_INCLUDE)
        self.run_to_end(text, "G4XYZ", overwrite=True)
        self.assertEqual(self.pane.lines()[2:6], ["0110-1001, 1010.0101/1100 1111\u2409+\u240d\u240a",
                                                  OVERWRITE_NOTICE, "", QUESTION + "G4XYZ"])

    def test_foreign_character_and_continuing_answers(self):
        text = "0101 1100 2\r\n"  # '2' is code 50
        self.set_clipboard(text)
        for answer in ("n", " N ", "n, whatever", '"n"', '"N"'):
            with self.subTest(answer=answer):
                self.dir = self.new_dir()
                self.file("OpSymbs.inc", OLD_INCLUDE)
                self.run_to_end(text, "OE1ABC", answer=answer, overwrite=True)

    def test_aborting_answers_end_at_once_and_keep_old_file(self):
        text = "0101 1100 2\r\n"
        self.set_clipboard(text)
        for answer in ("", "y", "Y", "no", "x", ",n"):
            with self.subTest(answer=answer):
                self.dir = self.new_dir()
                self.file("OpSymbs.inc", OLD_INCLUDE)
                self.start()
                self.answer_abort_question(answer)
                status = int(self.pane.wait_for_file(self.file(STATUS_FILE)))  # no key is sent
                self.assertEqual(status, 0)
                self.assert_screen(self.pane.cells(), expected_screen(text, answer))
                self.assertTrue(self.pane.bell_rung(), "no bell on abort")
                self.assertEqual(self.read(self.file("OpSymbs.inc")), OLD_INCLUDE)
                self.assert_terminal_restored()

    def test_33_bits_wrap_text_and_start_a_new_echo_row(self):
        bits = "10110011" "01011100" "11110000" "00011101" "1"
        text = ", ".join(bits)  # 97 characters: the text takes two rows
        self.set_clipboard(text)
        self.run_to_end(text, "W1AW")
        lines = self.pane.lines()
        self.assertEqual(lines[2:4], [text[:WIDTH], text[WIDTH:]])
        self.assertEqual(lines[8:10], ["     10110011     01011100     11110000     00011101",
                                       "     10000000"], self.pane.dump())

    def test_empty_clipboard(self):
        self.set_clipboard("")
        self.run_to_end("", "K1ABC")
        self.assertEqual(self.pane.lines()[1:4], [HEADING, "", QUESTION + "K1ABC"])
        self.assertIn(" 0 Bits", self.pane.lines())
        self.assertEqual(self.read(self.file("OpSymbs.inc")), b";K1ABC\r\n\r\n'\r\n")

    def test_non_ascii_text_shown_in_code_page_with_warning(self):
        text = "01\u00e9\u20ac\u4e2d"
        self.set_clipboard(text)
        self.run_to_end(text, "SP5ABC")
        self.assertEqual(self.pane.lines()[2:5], ["01\u00e9\u20ac?", WARNING.rstrip(), ABORT + "n"])

    def helper_dir(self, **scripts):
        """A directory holding only the given shell scripts, for PATH."""
        path = self.new_dir()
        for name, body in scripts.items():
            with open(os.path.join(path, name), "w") as f:
                f.write("#!/bin/sh\necho \"$@\" > %s/args\n%s\n" % (path, body.format(dir=path)))
            os.chmod(os.path.join(path, name), 0o755)
        return path

    def test_clipboard_helper_trouble_is_reported_and_keeps_the_old_file(self):
        self.set_clipboard("0101\r\n")  # would show, were it read
        env = shutil.which("env")
        sleep = shutil.which("sleep")
        failing = self.helper_dir(xclip="printf 1111; echo helper failed >&2; exit 1")
        hanging = self.helper_dir(xclip="echo $$ > {dir}/pid; exec %s 600" % sleep)
        # What xclip says when nothing was copied: an empty clipboard.
        empty = self.helper_dir(xclip="echo 'Error: target UTF8_STRING not available' >&2; exit 1")
        self.addCleanup(self.kill_hanging_helper, os.path.join(hanging, "pid"))
        cases = [("No clipboard reader: install xclip, xsel or wl-clipboard", [env, "PATH=" + self.new_dir(), OPCLIP]),
                 ("No clipboard: neither DISPLAY nor WAYLAND_DISPLAY is set", [env, "-u", "DISPLAY", OPCLIP]),
                 ("Clipboard not read: xclip failed: helper failed, xsel is not installed",
                  [env, "PATH=" + failing, OPCLIP]),
                 ("Clipboard not read: xclip did not answer within 2 s", [env, "PATH=" + hanging, OPCLIP]),
                 (None, [env, "PATH=" + empty, OPCLIP])]
        for message, argv in cases:
            with self.subTest(message=message):
                self.dir = self.new_dir()
                self.file("OpSymbs.inc", OLD_INCLUDE)
                if message is None:
                    self.run_to_end("", "NOCLIP", argv=argv, overwrite=True)
                    continue
                self.start(*argv)
                self.pane.wait_for_text(message)
                self.assertEqual(self.pane.lines()[:3], [BANNER, message, ""], self.pane.dump())
                self.pane.wait_until(lambda _: self.pane.bell_rung(), "the bell")
                self.pane.send_text("x")
                self.assertEqual(int(self.pane.wait_for_file(self.file(STATUS_FILE))), 1)
                self.assertEqual(self.read(self.file("OpSymbs.inc")), OLD_INCLUDE)
                self.assert_terminal_restored()
        self.assertEqual(self.read(os.path.join(failing, "args")),
                         b"-selection clipboard -out -target UTF8_STRING\n")

    def test_help_and_version_touch_nothing(self):
        self.assert_help_and_version(OPCLIP, rb"Usage: opclip")

    def kill_hanging_helper(self, pid_file):
        if os.path.exists(pid_file):
            pid = int(self.read(pid_file))
            try:
                if b"sleep" in self.read("/proc/%d/cmdline" % pid):
                    os.kill(pid, signal.SIGKILL)
            except (FileNotFoundError, ProcessLookupError):
                pass

    def test_xsel_used_when_xclip_missing(self):
        text = "1100 0011\n"
        helpers = self.helper_dir(xsel="printf '1100 0011\\n'")
        self.run_to_end(text, "JA1XYZ", argv=[shutil.which("env"), "PATH=" + helpers, OPCLIP])
        self.assertEqual(self.pane.lines()[2], "1100 0011\u240a")
        self.assertEqual(self.read(os.path.join(helpers, "args")), b"--clipboard --output\n")


if __name__ == "__main__":
    unittest.main()
