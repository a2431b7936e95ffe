"""End-to-end tests of opfile against hostile input, signals, odd terminals and
no terminal at all: it must never crash, hang, corrupt OpSymbs.inc or leave
the terminal raw.

Run with OPFILE=<built opfile> python3 test_hostile.py -v
"""

import os
import random
import re
import signal
import subprocess
import sys
import termios
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (ScratchTestCase, NOT_BITS, OLD_INCLUDE, PID_FILE, QUESTION,  # noqa: E402
                         PtyProgram, bit_groups, expected_include, wait_for)
from test_opfile import OPFILE  # noqa: E402


def bits_text(count, seed=1):
    rnd = random.Random(seed)
    bits = "".join(rnd.choice("01") for _ in range(count))
    return "\r\n".join(bits[i:i + 64] for i in range(0, count, 64)).encode() + b"\r\n"


class HostileTest(ScratchTestCase):
    def setUp(self):
        self.assertTrue(os.access(OPFILE, os.X_OK), "opfile binary not found: %s" % OPFILE)
        super().setUp()

    def new_input(self, data):
        """A new scratch directory holding OpBits.txt."""
        self.dir = self.new_dir()
        self.file("OpBits.txt", data)

    def test_end_signals_and_a_closed_terminal(self):
        """Ended by a signal at the question or at the key wait, or by its
        terminal going away, also with the hangup ignored (as under nohup),
        when the closed terminal only shows as a failing read: the old file or
        the whole new one, no process left behind, the terminal's modes back."""
        data = bits_text(40)
        # In a sanitizer build the leak check at exit can stall in a process
        # whose terminal is gone.
        nohup = ["env", "ASAN_OPTIONS=detect_leaks=0", "sh", "-c", "trap '' HUP; exec \"$0\""]
        cases = [(signal.SIGHUP, "question", []), (signal.SIGTERM, "key", []), (signal.SIGHUP, "key", []),
                 (signal.SIGUSR1, "question", []), (signal.SIGALRM, "key", []),
                 (None, "question", []), (None, "question", nohup)]  # None: the pane closed
        for number, moment, before in cases:
            with self.subTest(signal=number and number.name, moment=moment, before=before):
                self.new_input(data)
                self.file("OpSymbs.inc", OLD_INCLUDE)
                expected = self.snapshot()
                self.start(before + [OPFILE])
                pid = int(self.pane.wait_for_file(self.file(PID_FILE)))
                if moment == "key":  # written in full before the wait
                    self.answer(QUESTION, "C")
                    self.pane.wait_for_text(" 40 Bits")
                    expected["OpSymbs.inc"] = expected_include("C", data)
                else:
                    self.pane.wait_for_text(QUESTION.rstrip())
                    self.pane.send_text("DL1")
                    self.pane.wait_for_text("DL1")
                if number:
                    os.kill(pid, number)
                    self.assertEqual(self.status(), 128 + number)
                    self.assert_terminal_restored()
                else:
                    self.pane.close()  # the terminal goes away under the program
                    wait_for(lambda: not os.path.exists("/proc/%d" % pid), "opfile to end with its terminal")
                self.assertEqual(self.snapshot(), expected)

    def test_tiny_panes_resizes_long_comments_and_every_byte(self):
        rnd = random.Random(5)
        long = "".join(rnd.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 /,.-") for _ in range(12000))
        every = bytes(range(256)) * 3 + b"1" + bytes(range(255, -1, -1))
        cases = [  # (pane size, input, comment typed at once, resizes while the bits are echoed)
            ((10, 3), bits_text(100), "DL1ABC", []),
            ((1, 5), bits_text(100), "DL1ABC", []),
            ((80, 24), bits_text(300000), "K1ABC", [(30, 8), (1, 2), (200, 50), (7, 1), (80, 24)]),
            ((120, 40), bits_text(8), long, []),  # ten thousand characters kept
            ((80, 24), every, "ALL", []),
            ((80, 24), random.Random(9).randbytes(1 << 20) * 100, "BIG", []),
        ]
        for (width, height), data, comment, resizes in cases:
            with self.subTest(size=(width, height), length=len(data), comment=len(comment)):
                self.new_input(data)
                self.start([OPFILE], width=width, height=height)
                self.pane.wait_until(any, "any output")
                self.pane.send_text(comment)
                self.pane.send_keys("Enter")
                for size in resizes:
                    self.pane.tmux("resize-window", "-x", str(size[0]), "-y", str(size[1]))
                    time.sleep(0.05)
                expected, path = expected_include(comment[:10000], data), self.file("OpSymbs.inc")
                wait_for(lambda: os.path.exists(path) and self.read(path) == expected, "a complete OpSymbs.inc", 120)
                if width >= 80:
                    self.pane.wait_for_text(" %d Bits" % bit_groups(data)[1], timeout=60)
                self.pane.send_text("x")  # taken by the key wait, even when typed before it
                self.assertEqual(self.status(), 0)
                self.assert_terminal_restored()

    def test_a_resize_while_typing_keeps_backspace_on_the_comment(self):
        self.new_input(bits_text(8))
        self.start([OPFILE])
        self.pane.wait_for_text(QUESTION.rstrip())
        self.pane.send_text("DL1AB")
        self.pane.wait_for_text("DL1AB")
        self.pane.tmux("resize-window", "-x", "40", "-y", "24")  # the question row is rewrapped
        self.pane.send_keys("BSpace", "BSpace")
        self.pane.send_text("X")
        self.pane.wait_until(lambda lines: lines[0] == "C file  DL1X", "the comment row after the resize")
        self.pane.send_keys("Enter")
        self.pane.wait_for_text(" 8 Bits")
        self.assertEqual(self.press_key(), 0)
        self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include("DL1X", bits_text(8)))

    def test_without_any_terminal_the_questions_get_empty_answers(self):
        data = bits_text(24)
        self.file("OpBits.txt", data)
        with open(self.file("out"), "wb") as out, open(self.file("err"), "wb") as err:
            run = subprocess.run(["setsid", OPFILE], cwd=self.dir, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err, timeout=20)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(self.snapshot(), {"OpBits.txt": data, "OpSymbs.inc": expected_include("", data),
                                           "out": b"", "err": b""})

    def test_stray_signals_and_a_stop_leave_the_question_answerable(self):
        # Run as a shell with job control runs it, so that a stop is not
        # discarded as in an orphaned process group; a line typed to the shell
        # while the program is stopped stands for `fg`.
        data = bits_text(8)
        self.file("OpBits.txt", data)
        shell = 'set -m; "$0"; while [ $? = 147 ]; do read line; fg; done'  # 147: stopped by SIGSTOP
        program = PtyProgram(["sh", "-c", shell, OPFILE], self.dir)
        program.read(b"Callsign")
        group = os.tcgetpgrp(program.fd)  # the program's own, in the foreground
        for number in (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGPIPE, signal.SIGXFSZ):
            os.killpg(group, number)
            program.send(number.name[3:4].encode())  # still reading keys after the signal
        program.read(b"file  IQTPX")
        # Stopped, the terminal put back in its usual modes meanwhile (as a
        # shell does), then continued: Enter still ends the comment.
        os.killpg(group, signal.SIGSTOP)
        wait_for(lambda: os.tcgetpgrp(program.fd) != group, "the shell to take the terminal back")
        termios.tcsetattr(program.terminal, termios.TCSANOW, program.modes)
        program.send(b"fg\n")
        wait_for(lambda: not termios.tcgetattr(program.fd)[3] & termios.ICANON, "raw mode after the continue")
        program.send(b"Z\r")
        program.read(b" 8 Bits")
        program.send(b"x")
        self.assertEqual(program.finish(), (0, True))
        self.assertEqual(self.read(self.file("OpSymbs.inc")), expected_include("IQTPXZ", data))

    def test_a_kill_during_the_echo_keeps_the_old_file(self):
        data = bits_text(200000)  # far more echo than the terminal holds unread
        for number in (signal.SIGKILL, signal.SIGTERM):
            with self.subTest(signal=number.name):
                self.dir = self.new_dir()
                self.file("OpBits.txt", data)
                self.file("OpSymbs.inc", OLD_INCLUDE)
                before = self.snapshot()
                program = PtyProgram([OPFILE], self.dir)
                program.read(b"Callsign")
                program.send(b"K1ABC\r")
                program.read(re.compile(rb"[01]{8}"))
                # Read no more: the program is held in its echo, the new file half made.
                os.kill(program.pid, number)
                status, restored = program.finish()
                self.assertEqual(status, -number)
                self.assertEqual(self.read(self.file("OpSymbs.inc")), OLD_INCLUDE)
                if number == signal.SIGTERM:  # a kill -9 can neither restore nor tidy
                    self.assertTrue(restored, "terminal modes not restored")
                    self.assertEqual(self.snapshot(), before)

    def test_a_terminal_left_non_blocking_loses_no_row(self):
        data = bits_text(100000)
        self.file("OpBits.txt", data)
        program = PtyProgram([OPFILE], self.dir, nonblocking=True)
        program.read(b"Callsign")
        program.send(b"NB\r")
        time.sleep(1.5)  # the terminal stalls, longer than a program might wait for it
        output = program.read(b" 100000 Bits", timeout=60)
        program.send(b"x")
        self.assertEqual(program.finish(), (0, True))
        bits = data.translate(None, NOT_BITS)
        self.assertEqual(re.findall(rb"[01]{8}", output), [bits[i:i + 8] for i in range(0, len(bits), 8)])

    def test_an_8_bit_terminal_gets_its_own_characters_and_keys_typed_ahead_count(self):
        locales = self.new_dir()
        subprocess.run(["localedef", "-i", "en_US", "-f", "ISO-8859-1",
                        os.path.join(locales, "en_US.ISO-8859-1")], capture_output=True)
        latin1 = {"LOCPATH": locales, "LC_ALL": "en_US.ISO-8859-1"}
        data = bits_text(8)
        self.file("OpBits.txt", data)
        self.file("OpSymbs.inc", OLD_INCLUDE)
        os.symlink("OpSymbs.inc", os.path.join(self.dir.encode(), b"bits-\xe4\r.txt"))
        runs = [  # (arguments, environment, keys typed ahead, exit status, shown, OpSymbs.inc then)
            # A name holding an a-umlaut and a carriage return, shown in a message.
            ([b"bits-\xe4\r.txt"], latin1, b"C\r", 1,
             b"bits-\xe4?.txt and OpSymbs.inc are the same file: nothing written", OLD_INCLUDE),
            # A comment in Latin-1; its Enter arrives as a line feed.
            ([], latin1, b"\xfc\xe9 DL1\r", 0, b"file  \xfc\xe9 DL1", expected_include("\u00fc\u00e9 DL1", data)),
            # A dumb terminal gets neither colours nor a question where its cursor is.
            ([], {"TERM": "dumb"}, b"D\r", 0, b"file  D", expected_include("D", data)),
        ]
        for args, env, typed, status, shown, include in runs:
            with self.subTest(env=env, typed=typed):
                program = PtyProgram([OPFILE.encode(), *args], self.dir, env, typed_ahead=typed)
                program.read(b"Bits" if status == 0 else b"nothing written")
                program.send(b"x")
                self.assertEqual(program.finish(), (status, True))
                self.assertIn(shown, program.output)
                self.assertIsNone(re.search(rb"[\x80-\x9f]", program.output))  # a C1 control byte is obeyed
                if "TERM" in env:
                    self.assertIsNone(re.search(rb"\x1b\[[0-9;]*[mn]", program.output))
                self.assertEqual(self.read(self.file("OpSymbs.inc")), include)


if __name__ == "__main__":
    unittest.main()
