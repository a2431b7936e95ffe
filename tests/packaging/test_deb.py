"""cpack's Debian package: programs, manual pages, --help, --version, a run.   test_deb.py BUILD_DIR"""

import glob, os, subprocess, sys, unittest  # noqa: E401
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
from tmux_driver import ScratchTestCase, expected_include  # noqa: E402
BUILD = sys.argv.pop(1) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else "build/default"


class DebianPackageTest(ScratchTestCase):
    def test_unpacked_package(self):
        deb, root = max(glob.glob(BUILD + "/opera-include-tools_*.deb"), key=os.path.getmtime), self.new_dir()
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        for name, usage in (("opfile", rb"Usage: opfile \[FILE\]"), ("opclip", rb"Usage: opclip")):
            self.assertTrue(os.path.isfile("%s/usr/share/man/man1/%s.1.gz" % (root, name)), name)
            for option, answer in (("--help", usage + rb"\n(.*\n)*.*man " + name.encode()),
                                   ("--version", rb"\d+\.\d+\.\d+\n")):
                run = subprocess.run([root + "/usr/bin/" + name, option], cwd=self.dir, capture_output=True, timeout=10)
                self.assertEqual((run.returncode, run.stderr, os.listdir(self.dir)), (0, b"", []), option)
                self.assertRegex(run.stdout, answer, option)
        self.file("OpBits.txt", b"10110011\r\n1010\r\n")  # the question answered empty: there is no terminal
        run = subprocess.run(["setsid", root + "/usr/bin/opfile"], cwd=self.dir, stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=20)
        self.assertEqual((run.returncode, run.stdout + run.stderr, self.read(self.file("OpSymbs.inc"))),
                         (0, b"", expected_include("", "101100111010")))


if __name__ == "__main__":
    unittest.main()
