"""opfile and opclip end to end. OPFILE=<opfile> OPCLIP=<opclip> EXAMPLES=<repo>/examples python3 test_tools.py"""

import os, random, re, shutil, signal, subprocess, sys, termios, time, unittest  # noqa: E401
from pathlib import Path
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (BLACK, CYAN, GREY, IN_CI, OLD_INCLUDE, OVERWRITE_NOTICE, PID_FILE, QUESTION, WRITTEN,  # noqa
                         PtyProgram, ScratchTestCase, bit_groups, dialogue_rows, expected_include, main_under_xvfb,
                         row_text, wait_for)

REPO = Path(__file__).resolve().parents[2]
OPFILE, OPCLIP = (os.environ.get(name.upper(), f"{REPO}/build/default/{name}/{name}") for name in ("opfile", "opclip"))
EXAMPLE = Path(os.environ.get("EXAMPLES", REPO / "examples"), "OpBits.txt").read_bytes()
JOBS = "trap '' HUP; set -m; \"$0\"; read line; bg; read line; fg"  # a job-control shell that ignores hangups
FAILED, OLD, ABORT = "OpSymbs.inc NOT written: ", {"OpSymbs.inc": OLD_INCLUDE}, "Abort   Y/n"
EDITS = [("BSpace",), "DL1AXX", ("BSpace", "BSpace", "C-c", "Left", "Tab", "Up"), "B" + "A" * 32, ("BSpace",) * 32, "C"]


def bits_text(count):
    bits = bin(random.Random(count).getrandbits(count) | 1 << count)[3:]
    return "".join(bits[i:i + 64] + "\r\n" for i in range(0, count, 64)).encode()


def shell(command): return ["sh", "-c", command + '; exec "$0" "$@"']  # words that run it, then the program


def dialogue(comment, data, result, notice):  # the rows of a run and their colours; data None: no bits shown
    rows = [(OVERWRITE_NOTICE, (GREY, BLACK)), ("", None)] * notice
    return rows + [(text, (CYAN if text.startswith("     ") else GREY, BLACK) if text else None)
                   for text in dialogue_rows(comment, data, result)]


class OpfileTest(ScratchTestCase):
    def test_runs_in_a_pane(self):
        full = self.new_dir()  # a file system too small for the include file (root only)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full]).returncode == 0
        self.assertTrue(mounted or not IN_CI, "CI must mount a small file system (run as root)")
        mounted and self.addCleanup(subprocess.run, ["umount", full])
        many, odd, same = b"10110011\r\n" * 3000, b"1, 0, 1, 1;\r\n0 0 1 1 x\t1\r\n", "bits-\u00e4.txt"
        cases = [  # (words before opfile, its arguments, files, typing, result, status)
            ([], [], {}, EDITS, WRITTEN, 0),
            (shell("printf '\\033[1;3r'"), [], {"OpBits.txt": many[:300]}, "DL1ABC", WRITTEN, 0),  # scroll region
            (["env", "TERM=dumb"] + shell("printf '\\033[24;1Hkeep'"), [], {}, "D", WRITTEN, 0),
            (["env", "NO_COLOR=1"] + shell("exec < /dev/null > out"), [], dict(OLD, out=b""), "OE1XYZ", WRITTEN, 0),
            (shell("exec < /dev/null > out 2> err"), ["my", "bits?.txt"], {"my bits?.txt": odd, "my bitsX.txt": b"1",
                                                                          "out": b"", "err": b""}, "G4", WRITTEN, 0),
            ([], [], {"OpSymbs.inc": []}, "K1ABC", FAILED + "Is a directory", 1),
            (["flock", "OpSymbs.inc"], [], OLD, "W1AW", FAILED + "in use by another program", 1),
            ([], [same], {**OLD, same: "OpSymbs.inc"}, "N0",
             "%s and OpSymbs.inc are the same file: nothing written" % same, 1),
            ([], [], OLD, "N0", "OpBits.txt cannot be opened: not an ordinary file", 1),  # swapped for a device
            (shell("ulimit -f 40"), [], dict(OLD, **{"OpBits.txt": many}), "F", FAILED + "File too large", 1),
            ([], [], dict(OLD, **{"OpBits.txt": many}), "F", FAILED + "No space left on device", 1),
        ]
        swap = lambda: (os.remove(self.file("OpBits.txt")), os.symlink("/dev/zero", self.file("OpBits.txt")))  # noqa
        for before, args, files, typing, result, status in cases[:len(cases) - (not mounted)]:
            with self.subTest(result=result, before=before, args=args):
                self.dir = full if "space" in result else self.new_dir()
                files = dict({"OpBits.txt": EXAMPLE}, **files)
                [self.file(name, data) for name, data in files.items()]
                data = files[" ".join(args) or "OpBits.txt"] if result == WRITTEN or FAILED in result else None
                comment = "DL1ABC" if typing is EDITS else typing
                rows = dialogue(comment, data, result, files.get("OpSymbs.inc") == OLD_INCLUDE)
                rows = [("", None)] * 22 + [("keep", None)] + rows if "TERM=dumb" in before else rows  # a fresh row
                rows = [(t, c and (None, None)) for t, c in rows] if {"TERM=dumb", "NO_COLOR=1"} & set(before) else rows
                self.assert_screen(self.run_tool(before + [OPFILE] + args, [(QUESTION, typing)], rows[-1][0], status,
                                                 expected_include(comment, data) if result == WRITTEN else None,
                                                 swap if "ordinary" in result else None), rows)

    def test_a_resize_during_the_echo(self):
        self.file("OpBits.txt", data := bits_text(400000))

        def echo():  # resized while the program is held in its echo by a tmux that reads none of it
            tmux = int(self.pane.tmux("display-message", "-p", "#{pid}"))
            self.pane.wait_for_text(QUESTION.rstrip()), self.pane.send_text("DL1")
            self.pane.send_keys("Enter"), os.kill(tmux, signal.SIGSTOP), self.addCleanup(os.kill, tmux, signal.SIGCONT)
            wait_for(lambda: any(name.startswith(".OpSymbs.inc") for name in os.listdir(self.dir)), "the new file")
            os.kill(pid := int(self.read(self.file(PID_FILE))), signal.SIGSTOP), os.kill(tmux, signal.SIGCONT)
            self.pane.tmux("resize-window", "-x", "13", "-y", "40"), os.kill(pid, signal.SIGCONT)
        cells = self.run_tool([OPFILE], [], " 400000 Bits", 0, expected_include("DL1", data), during=echo)
        last = ["     " + group for group in bit_groups(data)[0][-2:]]  # in rows of 13: an empty one after each
        self.assertEqual([row_text(row) for row in cells[-9:]],
                         [last[0], "", last[1], "", "", WRITTEN[:13], WRITTEN[13:], " 400000 Bits", ""])

    def test_stray_signals_a_stop_a_continue_in_the_background_and_a_kill_during_the_echo(self):
        self.file("OpBits.txt", bits_text(200000)), self.file("OpSymbs.inc", OLD_INCLUDE)
        before, program = self.snapshot(), PtyProgram(["sh", "-c", JOBS, OPFILE], self.dir)
        program.read(b"Callsign")
        group = os.tcgetpgrp(program.fd)
        for number in (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGPIPE, signal.SIGXFSZ, signal.SIGHUP):
            os.killpg(group, number), program.send(number.name[3:4].encode())  # still taking keys after it
        program.read(b"file  IQTPXH")
        wait_for(lambda: Path("/proc/%d/stat" % group).read_text().split(") ")[1][0] == "S", "opfile to wait")
        os.killpg(group, signal.SIGSTOP)
        wait_for(lambda: os.tcgetpgrp(program.fd) != group, "the shell to take the terminal back")
        termios.tcsetattr(program.terminal, termios.TCSANOW, program.modes)  # as a shell does
        queries = program.output.count(b"\x1b[6n")
        program.send(b"\n")  # the shell runs `bg`
        program.read(lambda output: output.count(b"\x1b[6n") > queries)  # continued: asks where its cursor is
        self.assertTrue(termios.tcgetattr(program.fd)[3] & termios.ICANON, "raw mode taken in the background")
        program.send(b"\x15\n")  # the cursor report typed to the shell dropped; `fg`
        wait_for(lambda: not termios.tcgetattr(program.fd)[3] & termios.ICANON, "raw mode after the continue")
        program.send(b"Z\r"), program.read(b"     ")  # then reads no more: the echo is held in its writes
        os.killpg(group, signal.SIGTERM)  # the old file kept, no new one left, the terminal's modes back
        self.assertEqual((program.finish(), self.snapshot()), ((128 + signal.SIGTERM, True), before))

    def test_odd_terminals_and_keys_typed_ahead(self):
        latin1 = {"LOCPATH": (locales := self.new_dir()), "LC_ALL": "en_US.ISO-8859-1"}
        subprocess.run(["localedef", "-i", "en_US", "-f", "ISO-8859-1", locales + "/en_US.ISO-8859-1"])
        self.file("OpBits.txt", data := bits_text(100000))
        os.symlink("OpSymbs.inc", os.path.join(self.dir.encode(), b"bits-\xe4\r.txt"))
        runs = [  # (arguments, environment, keys typed ahead (None: later), shown, comment)
            ([b"bits-\xe4\r.txt"], latin1, b"C\r", rb"bits-\xe4\?\.txt and OpSymbs.inc are the same file", None),
            ([], latin1, b"\xfc\xe9 DL1\n", b"file  \xfc\xe9 DL1", "\u00fc\u00e9 DL1"),  # Enter as a line feed
            ([], {}, None, b"file  NB", "NB"),  # the terminal left non-blocking, its reader stalling
        ]
        for args, env, typed, shown, comment in runs:
            with self.subTest(env=env, typed=typed):
                self.file("OpSymbs.inc", OLD_INCLUDE)
                program = PtyProgram([OPFILE.encode(), *args], self.dir, env, typed or b"", typed is None)
                if typed is None:
                    program.read(b"Callsign"), program.send(b"NB\r"), time.sleep(1)  # longer than a program may wait
                out = program.read(b"Bits" if comment else b"nothing written", 60)
                program.send(b"x")
                self.assertEqual(program.finish(), (0 if comment else 1, True))
                self.assertRegex(out, shown)
                self.assertEqual(b"".join(re.findall(rb"[01]{8}", out)), re.sub(rb"[^01]", b"", data * bool(comment)))
                self.assertEqual(self.read(self.file("OpSymbs.inc")),
                                 expected_include(comment, data) if comment else OLD_INCLUDE)


class OpclipTest(ScratchTestCase):
    @classmethod
    def setUpClass(cls):  # the X server of xvfb-run: a private clipboard
        if not (os.environ.get("OP_XVFB") and shutil.which("xclip")):
            raise (RuntimeError if IN_CI else unittest.SkipTest)("needs xvfb-run and xclip")
        cls.owners = []  # xclip processes that hold or held the clipboard
        cls.addClassCleanup(lambda: [(owner.kill(), owner.wait()) for owner in cls.owners])
        os.environ.pop("WAYLAND_DISPLAY", None)

    def set_clipboard(self, data):  # a new xclip owns the clipboard and serves data
        owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-in"], stdin=subprocess.PIPE,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.owners.append(owner), owner.stdin.write(data), owner.stdin.close()
        wait_for(lambda: subprocess.run(["xclip", "-selection", "clipboard", "-out", "-target", "UTF8_STRING"],
                                        capture_output=True).stdout == data, "the clipboard")

    def test_runs(self):
        plain, foreign = "0110100111110000\r\n10101010\r\n", "0101 1100 2\r\n"  # '2' is code 50
        helpers = self.new_dir()  # the only programs on PATH: xclip fails, xsel serves bits
        for name, body in (("xclip", "echo no >&2; exit 1"), ("xsel", "printf '1100 0011 1'")):
            Path(helpers, name).write_text("#!/bin/sh\n" + body + "\n"), os.chmod(Path(helpers, name), 0o755)
        cases = [  # (clipboard, PATH, files, answers, status, OpSymbs.inc then, last row)
            (plain, "", {}, [(QUESTION, "DL1ABC")], 0, expected_include("DL1ABC", plain), " 24 Bits"),
            (foreign, "", OLD, [(ABORT, "y")], 0, None, ABORT + "y"),
            ("0101\0" + "1111", "", {}, [(QUESTION, "N")], 0, expected_include("N", "0101"), " 4 Bits"),
            (plain, helpers, {}, [(QUESTION, "S")], 0, expected_include("S", "110000111"), " 9 Bits"),
            (plain, "", {"OpSymbs.inc": []}, [(QUESTION, "D")], 1, None, FAILED + "Is a directory"),
        ]
        for text, path, files, answers, status, include, last in cases:
            with self.subTest(text=text, path=path, answers=answers):
                self.dir = self.new_dir()
                [self.file(name, data) for name, data in files.items()]
                self.set_clipboard(text.encode())
                argv = [shutil.which("env"), "PATH=" + path] * bool(path) + [OPCLIP]
                self.run_tool(argv, answers, last, status, include)


if __name__ == "__main__":
    main_under_xvfb()
