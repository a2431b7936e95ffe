"""End-to-end tests: the Windows programs opfile.exe and opclip.exe, run
through Wine in a real terminal (tmux), the same cases as on Linux.

Run with OPFILE_EXE=<opfile.exe> OPCLIP_EXE=<opclip.exe> WINE=<wine64 or wine>
WINEPREFIX=<a prefix of the build's own> EXAMPLES=<repo>/examples
[LINUX_OPFILE=<opfile> LINUX_OPCLIP=<opclip>] python3 test_wine.py -v

Wine's console keeps its own cell buffer and redraws it with 16 colours, so
where Wine shows something differently from a Windows console the check says
so: colour 7 and the black background may come out as the terminal's default
colours, cells holding control characters are drawn as '?', MessageBeep rings
no bell, and system messages are Wine's own texts.  All Wine programs of the
suite see the same private X server (Xvfb), so Wine's clipboard is the X one.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (ScratchTestCase, OLD_INCLUDE, OVERWRITE_NOTICE, PID_FILE, QUESTION,  # noqa: E402
                         STATUS_FILE, STTY_AFTER, STTY_BEFORE, TmuxPane, bit_groups, expected_include,
                         launch_script, row_text, visible_colours)
import test_opclip as linux_opclip  # noqa: E402  (module only: its tests are not run here)
from test_opclip import ABORT, GLYPHS, WIDTH, expected_screen, start_xvfb  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(REPO, "build", "windows")
OPFILE_EXE = os.environ.get("OPFILE_EXE", os.path.join(BUILD, "opfile", "opfile.exe"))
OPCLIP_EXE = os.environ.get("OPCLIP_EXE", os.path.join(BUILD, "opclip", "opclip.exe"))
WINE = os.environ.get("WINE") or shutil.which("wine64") or "/usr/lib/wine/wine64"
WINEPREFIX = os.environ.get("WINEPREFIX", os.path.join(BUILD, "wine-prefix"))
EXAMPLES = os.environ.get("EXAMPLES", os.path.join(REPO, "examples"))
LINUX = {"opfile": os.environ.get("LINUX_OPFILE", ""), "opclip": os.environ.get("LINUX_OPCLIP", "")}
IN_CI = os.environ.get("CI", "").lower() not in ("", "0", "false")

WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=", "WINEPREFIX": WINEPREFIX}
FIRST_START, LATER_START = 30.0, 10.0  # seconds until the first screen shows
GREY, CYAN, BLACK = 37, 36, 40
# Wine draws colour 7 and background 0 as the terminal's defaults (SGR 39/49/0).
WINE_DEFAULT_FOR = {GREY: {GREY, None}, BLACK: {BLACK, None}}
WINE_CONTROL_GLYPHS = {ord(glyph): "?" for glyph in GLYPHS.values()}  # Wine draws '?'
NO_BELL = "MessageBeep rings no bell in Wine's terminal console"

state = {"display": None, "xvfb": None, "first": True, "cp932": None}


def cp932_environment():
    """Pane variables under which Wine's ANSI code page is 932: a Japanese
    glibc locale, made once into a private directory; None without the
    locale sources (Debian package locales)."""
    if state["cp932"] is None:
        state["cp932"] = {}
        path = tempfile.mkdtemp(prefix="op-locale-")
        unittest.addModuleCleanup(shutil.rmtree, path, True)
        made = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(path, "ja_JP.UTF-8")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if made.returncode == 0:
            state["cp932"] = {"LOCPATH": path, "LC_ALL": "ja_JP.UTF-8"}
    return state["cp932"] or None


def wineserver(*args, timeout):
    server = os.path.join(os.path.dirname(os.path.realpath(WINE)), "wineserver")
    server = server if os.access(server, os.X_OK) else shutil.which("wineserver")
    if server:
        subprocess.run([server, *args], env=dict(os.environ, **WINE_ENV), timeout=timeout,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def setUpModule():
    # One X server for every Wine program of the suite: the desktop process
    # that bridges the clipboard is started once per Wine session, with the
    # DISPLAY of whichever program came first.
    if shutil.which("Xvfb") and shutil.which("xclip"):
        state["xvfb"], state["display"] = start_xvfb()
        unittest.addModuleCleanup(stop_xvfb)
    try:  # a session still ending (the unit tests') must not be joined
        wineserver("-w", timeout=60)
    except subprocess.TimeoutExpired:
        raise RuntimeError("a Wine program still runs in %s; end it first" % WINEPREFIX) from None
    env = dict(os.environ, **WINE_ENV)
    if state["display"]:
        env["DISPLAY"] = state["display"]
    if not os.path.exists(os.path.join(WINEPREFIX, "system.reg")):
        subprocess.run([WINE, "wineboot", "-i"], env=env, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started = subprocess.run([WINE, "cmd", "/c", "exit"], env=env, timeout=120,
                             capture_output=True, text=True)
    if started.returncode != 0:
        raise RuntimeError("Wine does not run in %s: %s" % (WINEPREFIX, started.stderr))
    wineserver("-w", timeout=60)  # let the prefix settle before the first pane


def tearDownModule():
    # The prefix's session ends before its X server goes.
    try:
        wineserver("-w", timeout=30)
    except subprocess.TimeoutExpired:
        wineserver("-k", timeout=30)  # only this build's prefix


def stop_xvfb():
    state["xvfb"].terminate()  # lets it remove its socket and lock file
    state["xvfb"].wait(10)


def colours_allowed(fg, bg=BLACK):
    return {(f, b) for f in WINE_DEFAULT_FOR.get(fg, {fg}) for b in WINE_DEFAULT_FOR.get(bg, {bg})}


class WineTestCase(ScratchTestCase):
    def setUp(self):
        self.assertTrue(os.access(WINE, os.X_OK), "Wine loader not found: %s" % WINE)
        super().setUp()

    # -- helpers -------------------------------------------------------------
    def start(self, argv, wine=True, env=(), redirects=()):
        """argv (run through Wine unless wine is False) in a new pane in self.dir,
        with the pane variables env, its standard streams redirected by cmd as
        a Windows user does it (Wine's console draws on the terminal only
        through a stream that is one); returns the time to allow for its first
        screen."""
        self.pane = TmuxPane(WIDTH, 24)
        self.addCleanup(self.pane.close)
        self.pane.env["LC_ALL"] = "C.UTF-8"
        self.pane.env.update(env)
        if state["display"]:
            self.pane.env["DISPLAY"] = state["display"]
        if wine:
            self.assertTrue(os.path.isfile(argv[0]), "program not found: %s" % argv[0])
            self.pane.env.update(WINE_ENV)
            if redirects:  # Wine's drive Z: is the Unix root
                argv = ["cmd", "/c", "Z:" + argv[0].replace("/", "\\"), *argv[1:], *redirects]
            argv = [WINE, *argv]
        # Wine leaves the terminal's ISIG on: Ctrl+C is a SIGINT for the whole
        # pane, which must not end the launching shell.
        self.pane.start(launch_script(self.dir, argv, survive_interrupt=wine), self.dir)
        timeout = FIRST_START if wine and state["first"] else LATER_START
        state["first"] = state["first"] and not wine
        return timeout

    def wait_for_count(self, count):
        return self.pane.wait_until(lambda lines: " %d Bits" % count in lines, "' %d Bits'" % count)

    def assert_colours(self, cells, row, fg, bg=BLACK):
        shown = visible_colours(cells[row])
        self.assertTrue(shown and shown <= colours_allowed(fg, bg),
                        "colours of row %d: %s, expected colour %d (Wine: or the default)\n%s"
                        % (row, shown, fg, self.pane.dump()))

    def assert_waiting_for_key(self):
        time.sleep(0.5)  # give a wrongly exiting program the chance to do so
        self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                         "program ended without waiting for a key:\n" + self.pane.dump())

    def press_key_and_get_status(self, key=None):
        screen = self.pane.lines()
        if key:
            self.pane.send_keys(key)
        else:
            self.pane.send_text("x")
        status = int(self.pane.wait_for_file(self.file(STATUS_FILE)))
        self.assertEqual(self.pane.lines(), screen, "output after the key")
        return status

    def assert_terminal_restored(self):
        """Wine's console host gives the terminal back a moment after the
        program has ended, so the pane's modes are polled, with a deadline."""
        before = self.read(self.file(STTY_BEFORE)).decode().strip()
        tty = self.pane.tmux("display-message", "-p", "#{pane_tty}").strip()
        deadline = time.monotonic() + 5
        while True:
            now = subprocess.run(["stty", "-g", "-F", tty], capture_output=True, text=True).stdout.strip()
            if now == before or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(now, before, "stty -g differs after the run")

    def wine_cannot_show(self, check, reason):
        with self.subTest(check, wine_difference=reason):
            self.skipTest("Wine: " + reason)

    def linux_include(self, tool, comment, files=()):
        """OpSymbs.inc as the Linux program writes it for the same input and
        comment, or None (the check skipped) where that program is not built."""
        program = LINUX[tool]
        if not os.access(program, os.X_OK):
            self.assertFalse(IN_CI, "CI must compare with the Linux %s: %r" % (tool, program))
            self.wine_cannot_show("same bytes as the Linux %s" % tool,
                                  "no Linux %s built (LINUX_%s)" % (tool, tool.upper()))
            return None
        wine_dir, self.dir = self.dir, self.new_dir()
        wine_pane = self.pane
        try:
            for name, data in files:
                self.file(name, data)
            self.start([program], wine=False)
            self.pane.wait_for_text(QUESTION.rstrip())
            self.pane.send_text(comment)
            self.pane.send_keys("Enter")
            self.pane.wait_until(lambda lines: any(line.endswith(" Bits") for line in lines), "Bits")
            self.assertEqual(self.press_key_and_get_status(), 0, "Linux %s" % tool)
            return self.read(self.file("OpSymbs.inc"))
        finally:
            self.dir, self.pane = wine_dir, wine_pane


class WineOpfileTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.example = self.read(os.path.join(EXAMPLES, "OpBits.txt"))

    def answer(self, steps, timeout):
        """Type (keys, text, comment row expected) steps at the question, then Enter."""
        cells = self.pane.wait_for_text(QUESTION.rstrip(), timeout)
        self.assertEqual(row_text(cells[0]), QUESTION.rstrip(), "question not on row 0:\n" + self.pane.dump())
        self.assert_colours(cells, 0, GREY)
        for keys, text, shown in steps:
            if keys:
                self.pane.send_keys(*keys)
            if text:
                self.pane.send_text(text)
            self.pane.wait_until(lambda lines: lines[0] == QUESTION + shown,
                                 "comment row %r after %s %r" % (shown, keys, text))
            self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                             "program ended after %s:\n%s" % (keys, self.pane.dump()))
        self.pane.send_keys("Enter")

    def assert_dialogue(self, cells, comment, data, result_row):
        groups, count = bit_groups(data)
        expected = ([QUESTION + comment, "", "", ""] + ["     " + g for g in groups]
                    + ["", result_row, " %d Bits" % count])
        lines = [row_text(row) for row in cells]
        self.assertEqual(lines[:len(expected)], expected, "\n" + self.pane.dump())
        self.assertEqual(set(lines[len(expected):]), {""}, "unexpected rows below\n" + self.pane.dump())
        for row in range(4, 4 + len(groups)):
            self.assert_colours(cells, row, CYAN)
        for row in (len(expected) - 2, len(expected) - 1):
            self.assert_colours(cells, row, GREY)

    def test_full_run_with_shipped_example(self):
        self.file("OpBits.txt", self.example)
        timeout = self.start([OPFILE_EXE])
        # Ctrl+C: Wine keeps the terminal's own Ctrl+C (a SIGINT that reaches
        # the program as CTRL_C_EVENT, not as the key 3 a Windows console
        # gives); either way nothing is typed and the program goes on.
        self.answer([((), "DL1ABX", "DL1ABX"), (("BSpace", "BSpace"), "", "DL1A"),
                     (("C-c",), "B", "DL1AB"), ((), "C JO31", "DL1ABC JO31")], timeout)
        cells = self.wait_for_count(96)
        self.assert_dialogue(cells, "DL1ABC JO31", self.example, "OpSymbs.inc Written")
        self.wine_cannot_show("no bell on success", NO_BELL)
        self.wine_cannot_show("Ctrl+C read as the key 3 and passed over",
                              "the terminal's ISIG stays on: Ctrl+C comes as SIGINT, then "
                              "CTRL_C_EVENT, never as a key")
        self.assert_waiting_for_key()
        self.assertEqual(self.press_key_and_get_status(), 0)
        written = self.read(self.file("OpSymbs.inc"))
        self.assertEqual(written, expected_include("DL1ABC JO31", self.example))
        self.assert_terminal_restored()
        linux = self.linux_include("opfile", "DL1ABC JO31", [("OpBits.txt", self.example)])
        if linux is not None:
            self.assertEqual(written, linux, "opfile.exe and the Linux opfile differ")

    def test_missing_input_says_no_file_and_ends_at_once(self):
        for old in (None, b";old comment\r\n\r\n        de   b'11110000'\r\n"):
            with self.subTest(old_include=old is not None):
                self.dir = self.new_dir()
                if old:
                    self.file("OpSymbs.inc", old)
                timeout = self.start([OPFILE_EXE])
                status = int(self.pane.wait_for_file(self.file(STATUS_FILE), timeout))  # no key sent
                self.assertEqual(status, 0)
                expected = ([OVERWRITE_NOTICE, ""] if old else []) + ["No File"]
                lines = self.pane.lines()
                self.assertEqual(lines[:len(expected)], expected, self.pane.dump())
                self.assertEqual(set(lines[len(expected):]), {""}, self.pane.dump())
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 sorted(["OpSymbs.inc"] * bool(old) + [STATUS_FILE, PID_FILE,
                                                                       STTY_AFTER, STTY_BEFORE]))
                if old:
                    self.assertEqual(self.read(self.file("OpSymbs.inc")), old)
                self.assert_terminal_restored()
        self.wine_cannot_show("bell for a missing file", NO_BELL)

    def test_the_named_file_is_read(self):
        data = b"1, 0, 1, 1;\r\n0 0 1 1 x\t1\r\n"  # 9 bits between other bytes
        cases = [  # name typed, a namesake that must not be read, pane variables, redirections
            # Raised to BITS.TXT (Windows and Wine ignore the case); both
            # output streams redirected, the dialogue still on the console.
            ("bits.txt", None, {}, (">out.txt", "2>err.txt")),
            ("Łukasz.txt", "Lukasz.txt", {}, ()),  # not its best fit in code page 1252
            # In code page 932 フ is 83 74: raising the byte 74 ('t') would
            # make サ (83 54).
            ("ファイル.txt", "サァイル.txt", cp932_environment(), ()),
            ("my bits.txt", None, {}, ()),  # Wine hands it on quoted: "my bits.txt"
        ]
        for name, namesake, env, redirects in cases:
            with self.subTest(name=name):
                if env is None:
                    self.assertFalse(IN_CI, "CI must run the code page 932 case")
                    self.wine_cannot_show(name, "no ja_JP locale to build (Debian package locales)")
                    continue
                self.dir = self.new_dir()
                self.file(name, data)
                self.file("OpBits.txt", self.example)  # must not be read
                if namesake:
                    self.file(namesake, b"1111")
                timeout = self.start([OPFILE_EXE, name], env=env, redirects=redirects)
                self.answer([((), "G4XYZ", "G4XYZ")], timeout)
                cells = self.wait_for_count(9)
                self.assert_dialogue(cells, "G4XYZ", data, "OpSymbs.inc Written")
                self.assertEqual(self.press_key_and_get_status(), 0)
                self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include("G4XYZ", data))
                self.assertEqual(self.read(self.file(name)), data)
                self.assertNotIn(name.upper(), os.listdir(self.dir))

    def test_refused_input_writes_nothing(self):
        """Devices and OpSymbs.inc itself are refused after the question:
        bell, a key to end (Escape, which Wine gives without a character),
        exit status 1, OpSymbs.inc as it was."""
        old = b";old comment\r\n\r\n        de   b'11110000'\r\n"
        for name, report, has_old in (
                ("CON", "CON cannot be opened: not an ordinary file", False),
                ("nul", "NUL cannot be opened: not an ordinary file", False),
                ("OpSymbs.inc", "OPSYMBS.INC and OpSymbs.inc are the same file: nothing written", True)):
            with self.subTest(name=name):
                self.dir = self.new_dir()
                self.file("OpBits.txt", self.example)
                if has_old:
                    self.file("OpSymbs.inc", old)
                timeout = self.start([OPFILE_EXE, name])
                self.pane.wait_for_text(QUESTION.rstrip(), timeout)
                self.pane.send_text("K1ABC")
                self.pane.send_keys("Enter")
                self.pane.wait_for_text(report)
                expected = [OVERWRITE_NOTICE, ""] * has_old + [QUESTION + "K1ABC", "", "", report]
                lines = self.pane.lines()
                self.assertEqual(lines[:len(expected)], expected, self.pane.dump())
                self.assertEqual(set(lines[len(expected):]), {""}, self.pane.dump())
                self.assert_waiting_for_key()
                self.assertEqual(self.press_key_and_get_status("Escape"), 1)
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 sorted(["OpBits.txt"] + ["OpSymbs.inc"] * has_old
                                        + [STATUS_FILE, PID_FILE, STTY_AFTER, STTY_BEFORE]))
                if has_old:
                    self.assertEqual(self.read(self.file("OpSymbs.inc")), old)
                self.assert_terminal_restored()
        self.wine_cannot_show("bell for a refused input", NO_BELL)

    def test_output_file_is_a_directory(self):
        self.file("OpBits.txt", self.example)
        os.mkdir(self.file("OpSymbs.inc"))
        timeout = self.start([OPFILE_EXE])
        self.answer([((), "K1ABC", "K1ABC")], timeout)  # no overwrite notice for a directory
        cells = self.wait_for_count(96)
        # Windows says "Access is denied"; Wine's message text is "Access denied".
        self.assert_dialogue(cells, "K1ABC", self.example, "OpSymbs.inc NOT written: Access denied")
        self.wine_cannot_show("bell when OpSymbs.inc is not written", NO_BELL)
        self.assert_waiting_for_key()
        self.assertEqual(self.press_key_and_get_status(), 1)
        self.assertEqual(os.listdir(self.file("OpSymbs.inc")), [])
        self.assert_terminal_restored()


class WineOpclipTest(WineTestCase):
    # The clipboard helpers of the Linux opclip tests, on this class's display.
    set_clipboard = classmethod(linux_opclip.OpclipTest.set_clipboard.__func__)
    stop_x = classmethod(linux_opclip.OpclipTest.stop_x.__func__)

    @classmethod
    def setUpClass(cls):
        if not state["display"]:
            reason = "Xvfb or xclip not installed (Debian packages xvfb, xclip)"
            if IN_CI:
                raise RuntimeError(reason + "; CI must run the opclip.exe tests")
            raise unittest.SkipTest(reason)
        cls.display, cls.owners = state["display"], []
        cls.addClassCleanup(cls.stop_x)  # the xclip owners only: Xvfb is the module's

    def assert_screen(self, cells, expected):
        """expected_screen's rows, as Wine draws them."""
        rows = [(row.translate(WINE_CONTROL_GLYPHS), colour) for row, colour in expected]
        lines = [row_text(row) for row in cells]
        dump = "\n" + self.pane.dump()
        self.assertEqual(lines[:len(rows)], [row.rstrip() for row, _ in rows], dump)
        self.assertEqual(set(lines[len(rows):]), {""}, "unexpected rows below" + dump)
        for i, (_, colour) in enumerate(rows):
            if colour:
                self.assert_colours(cells, i, *colour)

    def test_full_run(self):
        text = "0110100111110000\r\n10101010\r\n1100110000110011\r\n"  # 40 bits
        self.set_clipboard(text)
        timeout = self.start([OPCLIP_EXE])
        self.pane.wait_for_text(QUESTION.rstrip(), timeout)
        self.pane.send_text("DL1ABC JO31")
        self.pane.send_keys("Enter")
        cells = self.wait_for_count(40)
        self.assert_screen(cells, expected_screen(text, comment="DL1ABC JO31"))
        self.assertEqual(self.pane.lines()[2], "0110100111110000??10101010??1100110000110011??")
        self.assertEqual(self.pane.lines()[7:9], ["     01101001     11110000     10101010     11001100",
                                                  "     00110011"])
        self.wine_cannot_show("line breaks in the text shown as glyphs",
                              "cells holding control characters are drawn as '?'")
        self.wine_cannot_show("no bell on success", NO_BELL)
        self.assert_waiting_for_key()
        self.assertEqual(self.press_key_and_get_status(), 0)
        written = self.read(self.file("OpSymbs.inc"))
        self.assertEqual(written, linux_opclip.expected_include("DL1ABC JO31", text))
        self.assert_terminal_restored()
        linux = self.linux_include("opclip", "DL1ABC JO31")
        if linux is not None:
            self.assertEqual(written, linux, "opclip.exe and the Linux opclip differ")

    def test_foreign_character_and_aborting_answer(self):
        text = "0101 1100 2\r\n"  # '2' is code 50
        self.set_clipboard(text)
        self.file("OpSymbs.inc", OLD_INCLUDE)
        timeout = self.start([OPCLIP_EXE])
        self.pane.wait_for_text(ABORT, timeout)
        self.pane.send_text("y")
        self.pane.send_keys("Enter")
        status = int(self.pane.wait_for_file(self.file(STATUS_FILE)))  # no key is sent
        self.assertEqual(status, 0)
        self.assert_screen(self.pane.cells(), expected_screen(text, "y"))
        self.wine_cannot_show("the warning's two trailing spaces",
                              "the console redraws trailing blanks as an erase to the row's end")
        self.wine_cannot_show("bell on abort", NO_BELL)
        self.assertEqual(self.read(self.file("OpSymbs.inc")), OLD_INCLUDE)
        self.assert_terminal_restored()


if __name__ == "__main__":
    unittest.main()
