"""End-to-end tests: the real opfile binary in a real terminal (tmux).

Run with OPFILE=<built opfile> EXAMPLES=<repo>/examples python3 test_opfile.py -v
"""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (ScratchTestCase, PID_FILE, STATUS_FILE, STTY_AFTER, STTY_BEFORE,  # noqa: E402
                         TmuxPane, launch_script, row_text, visible_colours)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OPFILE = os.environ.get("OPFILE", os.path.join(REPO, "build", "default", "opfile", "opfile"))
EXAMPLES = os.environ.get("EXAMPLES", os.path.join(REPO, "examples"))

QUESTION = "Callsign used, or other comments for .INC file  "
OVERWRITE_NOTICE = "    Overwriting old OpSymbs.inc"
GREY, CYAN, BLACK = 37, 36, 40


def bit_groups(data: bytes):
    bits = "".join(chr(b) for b in data if b in b"01")
    return [bits[i:i + 8].ljust(8, "0") for i in range(0, len(bits), 8)], len(bits)


def expected_include(comment: str, data: bytes) -> bytes:
    groups, _ = bit_groups(data)
    lines = [";" + comment, ""]
    lines += ["        de   b'%s'" % g for g in groups] or ["'"]
    return "".join(line + "\r\n" for line in lines).encode("ascii")


class OpfileTest(ScratchTestCase):
    def setUp(self):
        self.assertTrue(os.access(OPFILE, os.X_OK), "opfile binary not found: %s" % OPFILE)
        self.example = self.read(os.path.join(EXAMPLES, "OpBits.txt"))
        super().setUp()

    # -- helpers -------------------------------------------------------------
    def start(self, *args, redirects="", width=80, height=24):
        self.pane = TmuxPane(width, height)
        self.addCleanup(self.pane.close)
        self.pane.start(launch_script(self.dir, [OPFILE, *args], redirects), self.dir)
        return self.pane

    def answer(self, comment, question_row=0, colours=(GREY, BLACK)):
        cells = self.pane.wait_for_text(QUESTION.rstrip())
        self.assertEqual(row_text(cells[question_row][:len(QUESTION)]), QUESTION.rstrip(),
                         "question not where expected:\n" + self.pane.dump())
        self.assertEqual(visible_colours(cells[question_row][:len(QUESTION)]), {colours},
                         "question colours")
        self.pane.send_text(comment)
        self.pane.send_keys("Enter")

    def wait_for_count(self, count):
        return self.pane.wait_until(lambda lines: " %d Bits" % count in lines,
                                    "the row ' %d Bits'" % count)

    def assert_waiting_for_key(self):
        time.sleep(0.5)  # give a wrongly exiting program the chance to do so
        self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                         "program ended without waiting for a key:\n" + self.pane.dump())

    def press_key_and_get_status(self, *keys):
        self.pane.send_keys(*keys) if keys else self.pane.send_text("x")
        return int(self.pane.wait_for_file(self.file(STATUS_FILE)))

    def assert_terminal_restored(self):
        self.assertEqual(self.read(self.file(STTY_BEFORE)), self.read(self.file(STTY_AFTER)),
                         "stty -g differs after the run")

    def assert_dialogue(self, cells, top, comment, data, result_row, colours=True):
        """Screen rows from the question to the count row, with their colours
        (or none at all), and nothing written below them."""
        groups, count = bit_groups(data)
        bit_rows = ["     " + g for g in groups]
        expected = [QUESTION + comment, "", "", ""] + bit_rows + ["", result_row, " %d Bits" % count]
        lines = [row_text(row) for row in cells]
        dump = "\n" + self.pane.dump()
        self.assertEqual(lines[top:top + len(expected)], expected, dump)
        self.assertEqual(set(lines[top + len(expected):]), {""}, "unexpected rows below" + dump)
        if not colours:
            self.assertEqual({(cell.fg, cell.bg) for row in cells for cell in row}, {(None, None)}, dump)
            return
        first_bits = top + 4
        for i in range(first_bits, first_bits + len(groups)):
            self.assertEqual(visible_colours(cells[i]), {(CYAN, BLACK)}, "bit row %d colours" % i)
            # The indent is blank but on the same black as the bits.
            self.assertEqual({cell.bg for cell in cells[i][:13]}, {BLACK}, "bit row %d background" % i)
        for i in (first_bits + len(groups) + 1, first_bits + len(groups) + 2):
            self.assertEqual(visible_colours(cells[i]), {(GREY, BLACK)}, "summary row %d colours" % i)

    # -- tests -----------------------------------------------------------------
    def test_full_run_with_shipped_example(self):
        self.file("OpBits.txt", self.example)
        self.start()
        self.answer("DL1ABC JO31")
        cells = self.wait_for_count(96)
        self.assert_dialogue(cells, 0, "DL1ABC JO31", self.example, "OpSymbs.inc Written")
        self.assertFalse(self.pane.bell_rung(), "bell on a successful run")
        self.assert_waiting_for_key()
        screen_before_key = self.pane.lines()
        self.assertEqual(self.press_key_and_get_status("S-F3"), 0)  # shaped like a cursor report
        self.assertEqual(self.pane.lines(), screen_before_key, "output after the key")
        self.assertEqual(self.read(self.file("OpSymbs.inc")),
                         expected_include("DL1ABC JO31", self.example))
        self.assert_terminal_restored()

    def test_rows_brought_in_by_scrolling_keep_their_colours(self):
        # A pane too short for the dialogue: every bit row arrives by a scroll,
        # also where another program left a scroll region set.
        self.file("OpBits.txt", self.example)
        for before in ([], ["sh", "-c", "printf '\\033[1;3r'; exec \"$0\""]):
            with self.subTest(before=before):
                if before:  # after the first run
                    for name in (STATUS_FILE, "OpSymbs.inc"):
                        os.remove(self.file(name))
                self.pane = TmuxPane(60, 8)
                self.addCleanup(self.pane.close)
                self.pane.start(launch_script(self.dir, before + [OPFILE]), self.dir)
                self.answer("DL1ABC", question_row=0)
                cells = self.wait_for_count(96)
                groups, _ = bit_groups(self.example)
                transcript = [QUESTION + "DL1ABC", "", "", ""] + ["     " + g for g in groups]
                transcript += ["", "OpSymbs.inc Written", " 96 Bits"]
                dump = "\n" + self.pane.dump()
                # The last row is the empty one the count row's line end opened.
                self.assertEqual([row_text(row) for row in cells], transcript[-7:] + [""], dump)
                for i in range(4):
                    self.assertEqual(visible_colours(cells[i]), {(CYAN, BLACK)}, "bit row %d colours%s" % (i, dump))
                    self.assertEqual({cell.bg for cell in cells[i][:13]}, {BLACK},
                                     "bit row %d background%s" % (i, dump))
                self.assertEqual(self.press_key_and_get_status(), 0)
                self.pane.close()

    def test_comment_editing_ignores_control_keys(self):
        self.file("OpBits.txt", self.example)
        self.start()
        self.pane.wait_for_text(QUESTION.rstrip())
        steps = [  # (keys, literal text typed afterwards, comment row expected)
            (["BSpace"], "DL1AXX", "DL1AXX"),
            (["BSpace", "BSpace"], "", "DL1A"),
            (["C-c"], "B", "DL1AB"),
            (["Left"], "C", "DL1ABC"),
            (["Tab", "Up"], "/", "DL1ABC/"),
            (["Escape"], "P", "DL1ABC/P"),
            ([], "A" * 24, "DL1ABC/P" + "A" * 24),  # up to the last column, then back over it
            (["BSpace"], "Z", "DL1ABC/P" + "A" * 23 + "Z"),
            (["BSpace"] * 24, "", "DL1ABC/P"),
        ]
        for keys, text, shown in steps:
            if keys:
                self.pane.send_keys(*keys)
            if keys == ["Escape"]:
                time.sleep(0.3)  # a person's pause, so Escape is not read as Alt+P
            if text:
                self.pane.send_text(text)
            self.pane.wait_until(lambda lines: lines[0] == QUESTION + shown,
                                 "comment row %r after %s" % (shown, keys))
            self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                             "program ended after %s:\n%s" % (keys, self.pane.dump()))
        self.pane.send_keys("Enter")
        cells = self.wait_for_count(96)
        self.assert_dialogue(cells, 0, "DL1ABC/P", self.example, "OpSymbs.inc Written")
        self.assertEqual(self.press_key_and_get_status(), 0)
        self.assertEqual(self.read(self.file("OpSymbs.inc")),
                         expected_include("DL1ABC/P", self.example))
        self.assert_terminal_restored()

    def test_missing_input_says_no_file_and_ends_at_once(self):
        old = b";old comment\r\n\r\n        de   b'11110000'\r\n"
        self.file("OpSymbs.inc", old)
        self.start()
        status = int(self.pane.wait_for_file(self.file(STATUS_FILE)))  # no key is sent
        self.assertEqual(status, 0)
        lines = self.pane.lines()
        self.assertEqual(lines[:3], [OVERWRITE_NOTICE, "", "No File"], self.pane.dump())
        self.assertEqual(set(lines[3:]), {""}, self.pane.dump())
        self.assertTrue(self.pane.bell_rung(), "no bell for a missing file")
        self.assertEqual(self.read(self.file("OpSymbs.inc")), old)
        self.assert_terminal_restored()

        # Names are case-sensitive: opbits.txt does not find OpBits.txt.
        self.dir = self.new_dir()
        self.file("OpBits.txt", self.example)
        self.start("opbits.txt")
        self.assertEqual(int(self.pane.wait_for_file(self.file(STATUS_FILE))), 0)
        self.assertEqual(self.pane.lines()[0], "No File", self.pane.dump())
        self.assertFalse(os.path.exists(self.file("OpSymbs.inc")))

    def test_named_file_with_spaces_wildcards_and_odd_content(self):
        data = b"1, 0, 1, 1;\r\n0 0 1 1 x\t1\r\n"  # 9 bits between other bytes
        self.file("my bits?.txt", data)  # '?' is a character like any other here
        self.file("my bitsX.txt", self.example)  # must not be read
        self.file("OpBits.txt", self.example)  # nor this
        self.start("my", "bits?.txt")
        self.answer("G4XYZ")
        cells = self.wait_for_count(9)
        self.assert_dialogue(cells, 0, "G4XYZ", data, "OpSymbs.inc Written")
        self.assertEqual(self.pane.lines()[4:6], ["     10110011", "     10000000"])
        self.assertEqual(self.press_key_and_get_status(), 0)
        self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include("G4XYZ", data))
        self.assertEqual(self.read(self.file("OpSymbs.inc")).count(b"de   b'"), 2)

    def test_input_without_bits(self):
        self.file("nobits.txt", b"no bits here\r\n")
        self.start("nobits.txt")
        self.answer("empty")
        self.wait_for_count(0)
        self.assertIn("OpSymbs.inc Written", self.pane.lines(), self.pane.dump())
        self.assertEqual(self.press_key_and_get_status(), 0)
        self.assertEqual(self.read(self.file("OpSymbs.inc")), b";empty\r\n\r\n'\r\n")

    def test_the_dialogue_shows_on_the_terminal_however_it_is_started(self):
        self.file("OpBits.txt", self.example)
        cases = [  # (how, the words before the program, redirections, colours)
            ("output redirected", [], "< /dev/null > out.txt", True),
            ("output and errors redirected", [], "< /dev/null > out.txt 2> err.txt", True),
            ("NO_COLOR", ["env", "NO_COLOR=1"], "", False),
        ]
        for how, before, redirects, colours in cases:
            with self.subTest(how):
                for name in (STATUS_FILE, "OpSymbs.inc", "out.txt", "err.txt"):
                    if os.path.exists(self.file(name)):
                        os.remove(self.file(name))
                self.pane = TmuxPane(80, 24)
                self.addCleanup(self.pane.close)
                self.pane.start(launch_script(self.dir, before + [OPFILE], redirects), self.dir)
                self.answer("OE1XYZ", colours=(GREY, BLACK) if colours else (None, None))
                cells = self.wait_for_count(96)
                self.assert_dialogue(cells, 0, "OE1XYZ", self.example, "OpSymbs.inc Written", colours)
                self.assertEqual(self.press_key_and_get_status(), 0)
                for name in ("out.txt", "err.txt"):
                    if os.path.exists(self.file(name)):
                        self.assertEqual(self.read(self.file(name)), b"")
                self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include("OE1XYZ", self.example))
                self.assert_terminal_restored()
                self.pane.close()

    def test_output_file_is_a_directory(self):
        self.file("OpBits.txt", self.example)
        os.mkdir(self.file("OpSymbs.inc"))
        self.start()
        self.answer("K1ABC")  # question on row 0: no overwrite notice for a directory
        cells = self.wait_for_count(96)
        self.assert_dialogue(cells, 0, "K1ABC", self.example, "OpSymbs.inc NOT written: Is a directory")
        self.pane.wait_until(lambda _: self.pane.bell_rung(), "the bell")
        self.assert_waiting_for_key()
        self.assertEqual(self.press_key_and_get_status(), 1)
        self.assertEqual(os.listdir(self.file("OpSymbs.inc")), [])
        self.assert_terminal_restored()

    def test_output_file_locked_by_another_process(self):
        self.file("OpBits.txt", self.example)
        old = b";locked\r\n\r\n'\r\n"
        target = self.file("OpSymbs.inc", old)
        holder = subprocess.Popen(["flock", target, "sleep", "600"], start_new_session=True)
        self.addCleanup(holder.wait)
        self.addCleanup(os.killpg, holder.pid, signal.SIGKILL)
        deadline = time.monotonic() + 10
        while subprocess.run(["flock", "-n", target, "true"]).returncode == 0:
            self.assertLess(time.monotonic(), deadline, "flock never took the lock")
            time.sleep(0.05)
        self.start()
        self.pane.wait_for_text(OVERWRITE_NOTICE)
        self.answer("W1AW", question_row=2)
        cells = self.wait_for_count(96)
        self.assertEqual(self.pane.lines()[:2], [OVERWRITE_NOTICE, ""])
        self.assert_dialogue(cells, 2, "W1AW", self.example,
                             "OpSymbs.inc NOT written: in use by another program")
        self.pane.wait_until(lambda _: self.pane.bell_rung(), "the bell")
        self.assert_waiting_for_key()
        self.assertEqual(self.press_key_and_get_status(), 1)
        self.assertEqual(self.read(target), old)

    def test_inputs_refused_after_the_question_leave_the_old_file_alone(self):
        def swap_for_a_device():
            os.remove(self.file("OpBits.txt"))
            os.symlink("/dev/zero", self.file("OpBits.txt"))
        cases = [  # (argument, whatever happens while the question waits, the message)
            ("bits-\u00e4.txt", None, "bits-\u00e4.txt and OpSymbs.inc are the same file: nothing written"),
            (None, swap_for_a_device, "OpBits.txt cannot be opened: not an ordinary file"),
        ]
        old = b";old\r\n\r\n        de   b'10101010'\r\n"
        for name, meanwhile, message in cases:
            with self.subTest(message):
                self.dir = self.new_dir()
                self.file("OpSymbs.inc", old)
                self.file("OpBits.txt", self.example)
                if name:
                    os.symlink("OpSymbs.inc", self.file(name))
                self.start(*[name] * bool(name))
                self.pane.wait_for_text(QUESTION.rstrip())
                if meanwhile:
                    meanwhile()
                self.answer("N0CALL", question_row=2)
                self.pane.wait_for_text(message)
                self.pane.wait_until(lambda _: self.pane.bell_rung(), "the bell")
                self.assertEqual([line for line in self.pane.lines() if line],
                                 [OVERWRITE_NOTICE, QUESTION + "N0CALL", message], self.pane.dump())
                self.assert_waiting_for_key()
                self.assertEqual(self.press_key_and_get_status(), 1)
                self.assertEqual(self.read(self.file("OpSymbs.inc")), old)
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith(".")], [])
                self.assert_terminal_restored()

    def test_help_and_version_touch_nothing(self):
        self.assert_help_and_version(OPFILE, rb"Usage: opfile \[FILE\]")

    def test_stray_signals_and_a_stop_leave_the_question_answerable(self):
        self.file("OpBits.txt", self.example)
        self.start()
        self.pane.wait_for_text(QUESTION.rstrip())
        self.pane.send_text("DL1")
        self.pane.wait_until(lambda lines: lines[0] == QUESTION + "DL1", "typed 'DL1'")
        pid = int(self.pane.wait_for_file(self.file(PID_FILE)))

        typed = "DL1"
        for number in (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGPIPE, signal.SIGXFSZ):
            os.kill(pid, number)
            typed += number.name[3]
            self.pane.send_text(typed[-1])  # still reading keys after the signal
            self.pane.wait_until(lambda lines: lines[0] == QUESTION + typed,
                                 "typed key after %s" % number.name)
            self.assertFalse(os.path.exists(self.file(STATUS_FILE)),
                             "%s ended the program" % number.name)

        # Stopped, the terminal put back in its usual modes meanwhile (as a
        # shell does), then continued: Enter still ends the comment.
        os.kill(pid, signal.SIGSTOP)
        tty = self.pane.tmux("display-message", "-p", "#{pane_tty}").strip()
        subprocess.run(["stty", "-F", tty, "sane"], check=True)
        os.kill(pid, signal.SIGCONT)
        self.pane.send_text("Z")
        self.pane.send_keys("Enter")
        self.wait_for_count(96)
        self.assertEqual(self.press_key_and_get_status(), 0)
        self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include(typed + "Z", self.example))


if __name__ == "__main__":
    unittest.main()
