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
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (ScratchTestCase, PID_FILE, STATUS_FILE, STTY_AFTER, STTY_BEFORE,  # noqa: E402
                         DeadlineError, PtyProgram, TmuxPane, launch_script)
from test_opfile import OPFILE  # noqa: E402

NOT_BITS = bytes(b for b in range(256) if b not in b"01")
OLD_INCLUDE = b";old\r\n\r\n        de   b'11110000'\r\n"
IN_CI = os.environ.get("CI", "").lower() not in ("", "0", "false")


def expected_include(comment, data):
    """The include file for a comment and the bytes fed (fast enough for 100 MB)."""
    bits = data.translate(None, NOT_BITS)
    groups = [bits[i:i + 8].ljust(8, b"0") for i in range(0, len(bits), 8)]
    lines = [b";" + comment.encode("cp1252"), b""]
    lines += [b"        de   b'" + g + b"'" for g in groups] or [b"'"]
    return b"".join(line + b"\r\n" for line in lines)


def bits_text(count, seed=1):
    rnd = random.Random(seed)
    bits = "".join(rnd.choice("01") for _ in range(count))
    return "\r\n".join(bits[i:i + 64] for i in range(0, count, 64)).encode() + b"\r\n"


class HostileTest(ScratchTestCase):
    def setUp(self):
        self.assertTrue(os.access(OPFILE, os.X_OK), "opfile binary not found: %s" % OPFILE)
        super().setUp()

    def get(self, name):
        return self.read(self.file(name))

    def start(self, *args, width=80, height=24):
        self.pane = TmuxPane(width, height)
        self.addCleanup(self.pane.close)
        self.pane.start(launch_script(self.dir, [OPFILE, *args]), self.dir)
        return int(self.pane.wait_for_file(self.file(PID_FILE)))

    def wait_for_question(self):
        self.pane.wait_until(lambda lines: any(line.startswith("Callsign") for line in lines),
                             "the comment question")

    def wait_until_written(self, expected, timeout=60):
        """The include file is complete once it holds all its bytes."""
        deadline = time.monotonic() + timeout
        while not (os.path.exists(self.file("OpSymbs.inc")) and self.get("OpSymbs.inc") == expected):
            if time.monotonic() > deadline:
                raise DeadlineError("OpSymbs.inc never became complete; pane:\n" + self.pane.dump())
            time.sleep(0.1)

    def status(self, timeout=10):
        return int(self.pane.wait_for_file(self.file(STATUS_FILE), timeout))

    def assert_terminal_restored(self):
        self.assertEqual(self.get(STTY_BEFORE), self.get(STTY_AFTER), "stty -g differs after the run")

    def clear(self, *names):
        for name in names or (STATUS_FILE, PID_FILE, "OpSymbs.inc"):
            if os.path.lexists(self.file(name)):
                os.remove(self.file(name))

    def temporary_files(self, directory=None):
        return [n for n in os.listdir(directory or self.dir) if n.startswith(".OpSymbs.inc.")]

    def test_end_signals_at_the_question_and_at_the_key_wait_restore_the_terminal(self):
        example = bits_text(40)
        for number, moment in ((signal.SIGHUP, "question"), (signal.SIGTERM, "key"),
                               (signal.SIGHUP, "key"), (signal.SIGUSR1, "question"),
                               (signal.SIGALRM, "key")):
            with self.subTest(signal=number.name, moment=moment):
                self.clear()
                self.file("OpBits.txt", example)
                pid = self.start()
                self.wait_for_question()
                if moment == "key":
                    self.pane.send_text("C")
                    self.pane.send_keys("Enter")
                    self.pane.wait_for_text(" 40 Bits")
                os.kill(pid, number)
                self.assertEqual(self.status(), 128 + number)
                self.assert_terminal_restored()
                if moment == "key":  # written in full before the wait
                    self.assertEqual(self.get("OpSymbs.inc"), expected_include("C", example))
                else:
                    self.assertFalse(os.path.exists(self.file("OpSymbs.inc")))
                self.pane.close()

    def test_closing_the_pane_leaves_no_process_behind_and_the_old_file_alone(self):
        old = b";old\r\n\r\n'\r\n"
        self.file("OpBits.txt", bits_text(16))
        # Killed by the hangup, and with the hangup ignored (as under nohup),
        # when the closed terminal only shows as a failing read. (In a
        # sanitizer build the leak check at exit can stall in a process whose
        # terminal is gone, so it is off for that run.)
        ignoring = ["env", "ASAN_OPTIONS=detect_leaks=0", "sh", "-c", "trap '' HUP; exec \"$0\"", OPFILE]
        for argv in ([OPFILE], ignoring):
            with self.subTest(argv=argv):
                self.file("OpSymbs.inc", old)
                os.remove(self.file(PID_FILE)) if os.path.exists(self.file(PID_FILE)) else None
                self.pane = TmuxPane(80, 24)
                self.addCleanup(self.pane.close)
                self.pane.start(launch_script(self.dir, argv), self.dir)
                pid = int(self.pane.wait_for_file(self.file(PID_FILE)))
                self.wait_for_question()
                self.pane.send_text("DL1")
                self.pane.wait_for_text("DL1")
                self.pane.close()  # the terminal goes away under the program
                deadline = time.monotonic() + 10
                while True:
                    try:
                        os.kill(pid, 0)
                    except ProcessLookupError:
                        break
                    self.assertLess(time.monotonic(), deadline, "opfile outlived its terminal")
                    time.sleep(0.05)
                self.assertEqual(self.get("OpSymbs.inc"), old)

    def test_tiny_panes_and_a_resize_during_a_long_echo(self):
        small = bits_text(100)
        for width, height in ((10, 3), (1, 5)):
            with self.subTest(width=width, height=height):
                for name in (STATUS_FILE, "OpSymbs.inc"):
                    if os.path.exists(self.file(name)):
                        os.remove(self.file(name))
                self.file("OpBits.txt", small)
                self.start(width=width, height=height)
                self.pane.wait_until(lambda lines: any(line for line in lines), "any output")
                self.pane.send_text("DL1ABC")
                self.pane.send_keys("Enter")
                self.wait_until_written(expected_include("DL1ABC", small))
                self.pane.send_text("x")
                self.assertEqual(self.status(), 0)
                self.assert_terminal_restored()
                self.pane.close()

        for name in (STATUS_FILE, "OpSymbs.inc"):
            if os.path.exists(self.file(name)):
                os.remove(self.file(name))
        large = bits_text(300000)
        self.file("OpBits.txt", large)
        self.start()
        self.wait_for_question()
        self.pane.send_text("K1ABC")
        self.pane.send_keys("Enter")
        for width, height in ((30, 8), (1, 2), (200, 50), (7, 1), (80, 24)):
            self.pane.tmux("resize-window", "-x", str(width), "-y", str(height))
            time.sleep(0.05)
        self.wait_until_written(expected_include("K1ABC", large))
        self.pane.wait_for_text(" 300000 Bits", timeout=60)
        self.pane.send_text("x")
        self.assertEqual(self.status(), 0)
        self.assert_terminal_restored()

    def test_without_any_terminal_the_questions_get_empty_answers(self):
        data = bits_text(24)
        self.file("OpBits.txt", data)
        with open(self.file("out"), "wb") as out, open(self.file("err"), "wb") as err:
            run = subprocess.run(["setsid", OPFILE], cwd=self.dir, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err, timeout=20)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(self.get("OpSymbs.inc"), expected_include("", data))
        self.assertEqual(self.get("out") + self.get("err"), b"")

    def test_a_pasted_comment_of_twelve_thousand_characters_keeps_ten_thousand(self):
        data = bits_text(8)
        self.file("OpBits.txt", data)
        self.start(width=120, height=40)
        self.wait_for_question()
        rnd = random.Random(5)
        comment = "".join(rnd.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 /,.-") for _ in range(12000))
        self.pane.send_text(comment)  # one burst
        self.pane.send_keys("Enter")
        self.wait_until_written(expected_include(comment[:10000], data), timeout=60)
        self.pane.send_text("x")
        self.assertEqual(self.status(), 0)

    def test_input_of_every_byte_value_and_a_hundred_megabytes(self):
        every = bytes(range(256)) * 3 + b"1" + bytes(range(255, -1, -1))
        self.file("every.bin", every)
        self.start("every.bin")
        self.wait_for_question()
        self.pane.send_text("ALL")
        self.pane.send_keys("Enter")
        self.wait_until_written(expected_include("ALL", every))  # 0 and 1 bytes only
        self.pane.send_text("x")
        self.assertEqual(self.status(), 0)
        self.pane.close()

        os.remove(self.file(STATUS_FILE))
        rnd = random.Random(9)
        chunk = rnd.randbytes(1 << 20)
        big = chunk * 100
        self.file("big.bin", big)
        self.start("big.bin")
        self.wait_for_question()
        self.pane.send_text("BIG")
        self.pane.send_keys("Enter")
        expected = expected_include("BIG", big)
        self.wait_until_written(expected, timeout=120)
        self.pane.send_text("x")
        self.assertEqual(self.status(), 0)
        self.assertEqual(len(expected), len(self.get("OpSymbs.inc")))


    def test_a_kill_during_the_echo_keeps_the_old_file(self):
        data = bits_text(200000)  # far more echo than the terminal holds unread
        self.file("OpBits.txt", data)
        for number in (signal.SIGKILL, signal.SIGTERM):
            with self.subTest(signal=number.name):
                self.file("OpSymbs.inc", OLD_INCLUDE)
                program = PtyProgram([OPFILE], self.dir)
                program.read(b"Callsign")
                program.send(b"K1ABC\r")
                program.read(re.compile(rb"[01]{8}"))
                # Read no more: the program is held in its echo, the new file half made.
                os.kill(program.pid, number)
                status, restored = program.finish()
                self.assertEqual(status, -number)
                self.assertEqual(self.get("OpSymbs.inc"), OLD_INCLUDE)
                if number == signal.SIGTERM:  # a kill -9 can neither restore nor tidy
                    self.assertTrue(restored, "terminal modes not restored")
                    self.assertEqual(self.temporary_files(), [])
                self.clear(*self.temporary_files())

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
        # A name holding an a-umlaut and a carriage return, shown in a message.
        self.file("OpSymbs.inc", OLD_INCLUDE)
        os.symlink("OpSymbs.inc", os.path.join(self.dir.encode(), b"bits-\xe4\r.txt"))
        program = PtyProgram([OPFILE.encode(), b"bits-\xe4\r.txt"], self.dir, latin1, typed_ahead=b"C\r")
        named = program.read(b"nothing written")
        program.send(b"x")
        self.assertEqual(program.finish(), (1, True))
        self.assertIn(b"bits-\xe4?.txt and OpSymbs.inc are the same file: nothing written", named)
        self.assertEqual(self.get("OpSymbs.inc"), OLD_INCLUDE)
        # A comment typed ahead in Latin-1; its Enter arrives as a line feed.
        data = bits_text(8)
        self.file("OpBits.txt", data)
        program = PtyProgram([OPFILE], self.dir, latin1, typed_ahead=b"\xfc\xe9 DL1\r")
        typed = program.read(b" 8 Bits")
        program.send(b"x")
        self.assertEqual(program.finish(), (0, True))
        self.assertIn(b"file  \xfc\xe9 DL1", typed)
        self.assertEqual(self.get("OpSymbs.inc"), expected_include("\u00fc\u00e9 DL1", data))
        for output in (named, typed):  # a C1 control byte would be obeyed, not shown
            self.assertIsNone(re.search(rb"[\x80-\x9f]", output))
        # A dumb terminal gets neither colours nor a question where its cursor is.
        program = PtyProgram([OPFILE], self.dir, {"TERM": "dumb"}, typed_ahead=b"D\r")
        dumb = program.read(b" 8 Bits")
        program.send(b"x")
        self.assertEqual(program.finish(), (0, True))
        self.assertIsNone(re.search(rb"\x1b\[[0-9;]*[mn]", dumb))

    def test_write_failures_end_in_not_written_and_keep_the_old_file(self):
        data = bits_text(3000 * 8)  # an include file of 78 KB
        full = self.new_dir()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full]).returncode == 0
        self.assertTrue(mounted or not IN_CI, "CI must mount a small file system (run as root)")
        if mounted:
            self.addCleanup(subprocess.run, ["umount", full])
        cases = [(self.dir, ["sh", "-c", "ulimit -f 40; exec \"$0\"", OPFILE], "File too large")]
        cases += [(full, [OPFILE], "No space left on device")] * mounted
        for workdir, argv, reason in cases:
            with self.subTest(reason=reason):
                self.dir = workdir
                self.file("OpBits.txt", data)
                self.file("OpSymbs.inc", OLD_INCLUDE)
                self.pane = TmuxPane(80, 24)
                self.addCleanup(self.pane.close)
                self.pane.start(launch_script(workdir, argv), workdir)
                self.wait_for_question()
                self.pane.send_text("FULL")
                self.pane.send_keys("Enter")
                self.pane.wait_for_text("OpSymbs.inc NOT written: " + reason)
                self.pane.wait_until(lambda _: self.pane.bell_rung(), "the bell")
                self.pane.send_text("x")
                self.assertEqual(self.status(), 1)
                self.assertEqual(self.get("OpSymbs.inc"), OLD_INCLUDE)
                self.assertEqual(self.temporary_files(), [])
                self.assert_terminal_restored()

    def test_a_resize_while_typing_keeps_backspace_on_the_comment(self):
        self.file("OpBits.txt", bits_text(8))
        self.start()
        self.wait_for_question()
        self.pane.send_text("DL1AB")
        self.pane.wait_for_text("DL1AB")
        self.pane.tmux("resize-window", "-x", "40", "-y", "24")  # the question row is rewrapped
        self.pane.send_keys("BSpace", "BSpace")
        self.pane.send_text("X")
        self.pane.wait_until(lambda lines: lines[0] == "C file  DL1X", "the comment row after the resize")
        self.pane.send_keys("Enter")
        self.pane.wait_for_text(" 8 Bits")
        self.pane.send_text("x")
        self.assertEqual(self.status(), 0)
        self.assertTrue(self.get("OpSymbs.inc").startswith(b";DL1X\r\n"))


if __name__ == "__main__":
    unittest.main()
