"""End-to-end tests: the real opfile binary in a real terminal (tmux).

Run with OPFILE=<built opfile> EXAMPLES=<repo>/examples python3 test_opfile.py -v
"""

import os
import signal
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (ScratchTestCase, BLACK, CYAN, GREY, OLD_INCLUDE, OVERWRITE_NOTICE,  # noqa: E402
                         QUESTION, WRITTEN, bit_groups, expected_include, wait_for)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OPFILE = os.environ.get("OPFILE", os.path.join(REPO, "build", "default", "opfile", "opfile"))
EXAMPLES = os.environ.get("EXAMPLES", os.path.join(REPO, "examples"))
IN_CI = os.environ.get("CI", "").lower() not in ("", "0", "false")

EDITS = [  # (keys, text typed afterwards, the comment then shown)
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


def dialogue(comment, data, result=WRITTEN, notice=False):
    """The screen rows of a run with their colours: the question with the
    comment (unless None), then the bits of data and the count, or only the
    result."""
    rows = [(OVERWRITE_NOTICE, (GREY, BLACK)), ("", None)] if notice else []
    if comment is not None:
        rows += [(QUESTION + comment, (GREY, BLACK)), ("", None), ("", None)]
    if data is None:
        return rows + [(result, (GREY, BLACK))]
    groups, count = bit_groups(data)
    rows += [("", None)] + [("     " + group, (CYAN, BLACK)) for group in groups]
    return rows + [("", None), (result, (GREY, BLACK)), (" %d Bits" % count, (GREY, BLACK))]


class OpfileTest(ScratchTestCase):
    def setUp(self):
        self.assertTrue(os.access(OPFILE, os.X_OK), "opfile binary not found: %s" % OPFILE)
        self.example = self.read(os.path.join(EXAMPLES, "OpBits.txt"))
        super().setUp()

    def make(self, files, directory=None):
        """Files in a new scratch directory: bytes, a link's target, or None for a directory."""
        self.dir = directory or self.new_dir()
        for name, data in files.items():
            if data is None:
                os.mkdir(self.file(name))
            elif isinstance(data, str):
                os.symlink(data, self.file(name))
            else:
                self.file(name, data)

    def test_runs_that_write(self):
        odd = b"1, 0, 1, 1;\r\n0 0 1 1 x\t1\r\n"  # 9 bits between other bytes
        region = ["sh", "-c", "printf '\\033[1;3r'; exec \"$0\""]  # a scroll region another program left
        cases = [  # (what, pane size, words before opfile, its arguments, redirections, files, typing)
            ("comment edited", (80, 24), [], [], "", {}, EDITS),
            ("rows brought in by scrolling", (60, 8), [], [], "", {}, "DL1ABC"),
            ("scrolling in a scroll region", (60, 8), region, [], "", {}, "DL1ABC"),
            ("output redirected", (80, 24), [], [], "< /dev/null > out", {"out": b"", "OpSymbs.inc": OLD_INCLUDE},
             "OE1XYZ"),
            ("both redirected", (80, 24), [], [], "< /dev/null > out 2> err", {"out": b"", "err": b""}, "OE1XYZ"),
            ("NO_COLOR", (80, 24), ["env", "NO_COLOR=1"], [], "", {}, "OE1XYZ"),
            # '?' is a character like any other: "my bitsX.txt" is not read.
            ("named", (80, 24), [], ["my", "bits?.txt"], "", {"my bits?.txt": odd, "my bitsX.txt": b"1"}, "G4XYZ"),
            ("no bits", (80, 24), [], ["nobits.txt"], "", {"nobits.txt": b"no bits here\r\n"}, "empty"),
        ]
        for what, size, before, args, redirects, files, typing in cases:
            with self.subTest(what):
                self.make(dict({"OpBits.txt": self.example}, **files))
                data = self.read(self.file(" ".join(args) or "OpBits.txt"))
                comment = typing if isinstance(typing, str) else typing[-1][2]
                rows = dialogue(comment, data, notice="OpSymbs.inc" in files)
                if "NO_COLOR=1" in before:
                    rows = [(text, colours and (None, None)) for text, colours in rows]
                self.run_writing(before + [OPFILE] + args, [(QUESTION, typing)], rows,
                                 expected_include(comment, data), redirects, size)

    def test_runs_that_write_nothing(self):
        full = self.new_dir()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full]).returncode == 0
        self.assertTrue(mounted or not IN_CI, "CI must mount a small file system (run as root)")
        if mounted:
            self.addCleanup(subprocess.run, ["umount", full])
        old = {"OpSymbs.inc": OLD_INCLUDE, "OpBits.txt": self.example}
        many = b"10110011\r\n" * 3000  # an include file of 78 KB
        failed = "OpSymbs.inc NOT written: "
        cases = [  # (what, words before opfile, its arguments, files, while the question waits, rows, status)
            ("no file", [], [], {"OpSymbs.inc": OLD_INCLUDE}, None, dialogue(None, None, "No File", True), 0),
            ("names are case-sensitive", [], ["opbits.txt"], old, None, dialogue(None, None, "No File", True), 0),
            ("a directory", [], [], {"OpSymbs.inc": None, "OpBits.txt": self.example}, None,
             dialogue("K1ABC", self.example, failed + "Is a directory"), 1),
            ("locked", [], [], old, self.lock_old_file,
             dialogue("W1AW", self.example, failed + "in use by another program", True), 1),
            ("the same file", [], ["bits-\u00e4.txt"], dict(old, **{"bits-\u00e4.txt": "OpSymbs.inc"}), None,
             dialogue("N0CALL", None, "bits-\u00e4.txt and OpSymbs.inc are the same file: nothing written", True), 1),
            ("swapped for a device", [], [], old, self.swap_input_for_a_device,
             dialogue("N0CALL", None, "OpBits.txt cannot be opened: not an ordinary file", True), 1),
            ("too large", ["sh", "-c", "ulimit -f 40; exec \"$0\""], [], dict(old, **{"OpBits.txt": many}), None,
             dialogue("FULL", many, failed + "File too large", True), 1),
            ("disk full", [], [], dict(old, **{"OpBits.txt": many}), None,
             dialogue("FULL", many, failed + "No space left on device", True), 1),
        ]
        for what, before, args, files, meanwhile, rows, status in cases[:len(cases) - (not mounted)]:
            with self.subTest(what):
                self.make(files, full if what == "disk full" else None)
                self.run_not_writing(before + [OPFILE] + args, rows, status, QUESTION, meanwhile)

    def lock_old_file(self):
        target = self.file("OpSymbs.inc")
        holder = subprocess.Popen(["flock", target, "sleep", "600"], start_new_session=True)
        self.addCleanup(holder.wait)
        self.addCleanup(os.killpg, holder.pid, signal.SIGKILL)
        wait_for(lambda: subprocess.run(["flock", "-n", target, "true"]).returncode, "flock to take the lock")

    def swap_input_for_a_device(self):
        os.remove(self.file("OpBits.txt"))
        os.symlink("/dev/zero", self.file("OpBits.txt"))

    def test_help_and_version_touch_nothing(self):
        self.assert_help_and_version(OPFILE, rb"Usage: opfile \[FILE\]")


if __name__ == "__main__":
    unittest.main()
