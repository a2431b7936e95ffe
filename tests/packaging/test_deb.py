#!/usr/bin/env python3
"""Checks the Debian package made by `cpack -G DEB` as a user meets it: it
installs (unpacked into a scratch root), both programs and both manual pages
are in place, the pages read, and the unpacked opfile runs end to end.

    test_deb.py BUILD_DIR
"""

import glob
import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
from tmux_driver import STATUS_FILE, ScratchTestCase, TmuxPane, launch_script  # noqa: E402

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else "build/default"


class DebianPackageTest(ScratchTestCase):
    def test_installs_and_opfile_runs(self):
        deb = max(glob.glob(os.path.join(BUILD, "opera-include-tools_*.deb")), key=os.path.getmtime)
        root = self.new_dir()
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        env = dict(os.environ, MANWIDTH="80", MANPAGER="cat", LC_ALL="C.UTF-8")
        for program in ("opfile", "opclip"):
            self.assertTrue(os.access(os.path.join(root, "usr/bin", program), os.X_OK), program)
            page = os.path.join(root, "usr/share/man/man1", program + ".1.gz")
            shown = subprocess.run(["man", "--warnings", "-l", page], env=env,
                                   capture_output=True, text=True, check=True)
            self.assertEqual(shown.stderr, "", page)
            self.assertIn("OpSymbs.inc", shown.stdout)

        self.file("OpBits.txt", b"10110011\r\n1010\r\n")
        pane = TmuxPane()
        self.addCleanup(pane.close)
        pane.start(launch_script(self.dir, [os.path.join(root, "usr/bin/opfile")]), self.dir)
        pane.wait_for_text("Callsign used, or other comments for .INC file")
        pane.send_text("DL1ABC")
        pane.send_keys("Enter")
        pane.wait_for_text(" 12 Bits")
        self.assertIn("OpSymbs.inc Written", pane.lines())
        pane.send_text("x")
        self.assertEqual(pane.wait_for_file(self.file(STATUS_FILE)).strip(), "0")
        self.assertEqual(self.read(self.file("OpSymbs.inc")),
                         b";DL1ABC\r\n\r\n        de   b'10110011'\r\n        de   b'10100000'\r\n")


if __name__ == "__main__":
    unittest.main()
