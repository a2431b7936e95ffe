#!/usr/bin/env python3
"""Checks the Debian package made by `cpack -G DEB`.

    test_deb.py [PACKAGE.deb | BUILD_DIR] [--version VERSION]

Given a build directory, the newest opera-include-tools_*.deb in it is
checked. The package's control fields and file list are read with dpkg-deb;
then it is unpacked into a fresh temporary root, its manual pages are
formatted with `man -l`, and the unpacked programs are run end to end in a
private tmux pane. Exits non-zero when any check fails.
"""

import argparse
import glob
import gzip
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

PACKAGE = "opera-include-tools"
MAINTAINER = ("OPERA include tools maintainers "
              "<maintainers@users.noreply.c-seed-ffba6f1c.example>")
RECOMMENDS = "xclip | xsel | wl-clipboard"
PROGRAMS = ("opfile", "opclip")
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

QUESTION = "Callsign used, or other comments for .INC file"
WAIT_SECONDS = 10.0
POLL_SECONDS = 0.05

# Filled in by main() from the command line.
DEB = None
VERSION = None


def run(*args, **kwargs):
    """Runs a command, returning the completed process; never raises on status."""
    kwargs.setdefault("capture_output", True)
    kwargs.setdefault("text", True)
    kwargs.setdefault("timeout", 60)
    return subprocess.run(list(args), check=False, **kwargs)


def find_package(where):
    if os.path.isfile(where):
        return os.path.abspath(where)
    candidates = glob.glob(os.path.join(where, PACKAGE + "_*.deb"))
    if not candidates:
        sys.exit("no %s_*.deb in %s (run `cpack -G DEB` there first)" % (PACKAGE, where))
    return os.path.abspath(max(candidates, key=os.path.getmtime))


def has_elf_section(path, wanted):
    """True when the ELF file at `path` has a section called `wanted`."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or data[4] != 2:  # 64-bit ELF only
        raise AssertionError("%s is not a 64-bit ELF file" % path)
    order = "little" if data[5] == 1 else "big"

    def number(offset, size):
        return int.from_bytes(data[offset:offset + size], order)

    table, entry_size, count, names_index = (number(0x28, 8), number(0x3A, 2),
                                             number(0x3C, 2), number(0x3E, 2))
    names_at = number(table + names_index * entry_size + 0x18, 8)
    for i in range(count):
        name_at = names_at + number(table + i * entry_size, 4)
        name = data[name_at:data.index(b"\0", name_at)].decode("ascii", "replace")
        if name == wanted:
            return True
    return False


class TmuxPane:
    """One 80x24 pane in a tmux server of its own, without any user config."""

    def __init__(self, workdir, command):
        self.server = "deb-test-%d-%s" % (os.getpid(), uuid.uuid4().hex[:8])
        self.env = dict(os.environ, TERM="xterm-256color")
        self.env.pop("TMUX", None)
        self.workdir = workdir
        # The exit status goes to a file, written atomically; the pane then
        # stays open so the screen can still be read.
        script = ("cd %s || exit 1; printf '\\033[H\\033[2J'; %s; echo $? > status.tmp; "
                  "mv status.tmp status; sleep 600"
                  % (shlex.quote(workdir), command))
        self.socket = None
        try:
            self.tmux("new-session", "-d", "-x", "80", "-y", "24", "-c", workdir,
                      "sh -c %s" % shlex.quote(script))
            self.socket = self.tmux("display-message", "-p", "#{socket_path}").strip()
        except BaseException:
            self.close()
            raise

    def tmux(self, *args):
        result = run("tmux", "-L", self.server, "-f", "/dev/null", *args, env=self.env,
                     timeout=WAIT_SECONDS)
        if result.returncode != 0:
            raise AssertionError("tmux %s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def close(self):
        run("tmux", "-L", self.server, "-f", "/dev/null", "kill-server", env=self.env)
        # tmux leaves its socket file behind.
        if self.socket and os.path.exists(self.socket):
            os.unlink(self.socket)

    def lines(self):
        return [line.rstrip() for line in self.tmux("capture-pane", "-p").split("\n")]

    def dump(self):
        lines = self.lines()
        while lines and not lines[-1]:
            lines.pop()
        return "\n".join("%2d|%s" % (i, line) for i, line in enumerate(lines))

    def wait_for(self, what, predicate):
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            lines = self.lines()
            if predicate(lines):
                return lines
            if time.monotonic() > deadline:
                raise AssertionError("timed out waiting for %s; pane:\n%s" % (what, self.dump()))
            time.sleep(POLL_SECONDS)

    def wait_for_line(self, text):
        return self.wait_for(repr(text), lambda lines: text in lines)

    def wait_for_status(self):
        path = os.path.join(self.workdir, "status")
        deadline = time.monotonic() + WAIT_SECONDS
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                raise AssertionError("the program did not end; pane:\n" + self.dump())
            time.sleep(POLL_SECONDS)
        with open(path) as f:
            return int(f.read())

    def type_line(self, text):
        self.tmux("send-keys", "-l", text)
        self.tmux("send-keys", "Enter")


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="deb-root-")
        unpacked = run("dpkg-deb", "-x", DEB, cls.root)
        if unpacked.returncode != 0:
            shutil.rmtree(cls.root, True)
            raise AssertionError("dpkg-deb -x failed: " + unpacked.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, True)

    def field(self, name):
        result = run("dpkg-deb", "-f", DEB, name)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def scratch_dir(self):
        path = tempfile.mkdtemp(prefix="deb-run-")
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def start(self, workdir, command):
        pane = TmuxPane(workdir, command)
        self.addCleanup(pane.close)
        return pane

    # -- the control file -------------------------------------------------------
    def test_control_fields(self):
        self.assertEqual(self.field("Package"), PACKAGE)
        self.assertEqual(self.field("Section"), "hamradio")
        self.assertEqual(self.field("Priority"), "optional")
        self.assertEqual(self.field("Recommends"), RECOMMENDS)
        self.assertEqual(self.field("Maintainer"), MAINTAINER)
        if VERSION:
            self.assertEqual(self.field("Version"), VERSION)
        architecture = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual(self.field("Architecture"), architecture)
        # Worked out by dpkg-shlibdeps: every program here needs the C library.
        depends = self.field("Depends")
        self.assertIn("libc6", [d.split()[0] for d in depends.split(",") if d.strip()], depends)
        description = self.field("Description").split("\n")
        self.assertTrue(description[0].strip(), "no short description")
        self.assertGreater(len(description), 1, "no long description")

    # -- the file list ----------------------------------------------------------
    def test_contents(self):
        listing = run("dpkg-deb", "-c", DEB)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        entries = {}
        for line in listing.stdout.splitlines():
            fields = line.split(None, 5)
            entries[fields[5].lstrip("./").split(" -> ")[0]] = fields[0]
        expected = {"usr/bin/opfile": "-rwxr-xr-x", "usr/bin/opclip": "-rwxr-xr-x",
                    "usr/share/man/man1/opfile.1.gz": "-rw-r--r--",
                    "usr/share/man/man1/opclip.1.gz": "-rw-r--r--"}
        for path, mode in expected.items():
            self.assertIn(path, entries, listing.stdout)
            self.assertEqual(entries[path], mode, path)
        allowed = ("usr/bin/", "usr/share/man/man1/", "usr/share/doc/%s/" % PACKAGE)
        for path, mode in entries.items():
            if not mode.startswith("d"):
                self.assertTrue(path.startswith(allowed), "unexpected file " + path)

    def test_programs_are_stripped(self):
        for program in PROGRAMS:
            path = os.path.join(self.root, "usr", "bin", program)
            self.assertFalse(has_elf_section(path, ".symtab"), program + " is not stripped")

    # -- the manual pages -------------------------------------------------------
    def test_manual_pages(self):
        env = dict(os.environ, MANWIDTH="80", MANPAGER="cat", PAGER="cat", LC_ALL="C.UTF-8")
        for program in PROGRAMS:
            page = os.path.join(self.root, "usr", "share", "man", "man1", program + ".1.gz")
            with gzip.open(page, "rb") as f:
                roff = f.read()
            source = os.path.join(REPO, "man", program + ".1")
            if os.path.exists(source):
                with open(source, "rb") as f:
                    self.assertEqual(roff, f.read(), "%s differs from %s" % (page, source))
            shown = run("man", "--warnings", "-l", page, env=env)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            self.assertEqual(shown.stderr, "", "warnings from man -l " + page)
            self.assertIn(program.upper() + "(1)", shown.stdout)
            self.assertIn("OpSymbs.inc", shown.stdout)
            for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "FILES"):
                self.assertIn("\n" + heading + "\n", shown.stdout, program)

    # -- the programs, run from the unpacked tree ---------------------------------
    def test_opfile_end_to_end(self):
        opfile = os.path.join(self.root, "usr", "bin", "opfile")
        workdir = self.scratch_dir()
        with open(os.path.join(workdir, "OpBits.txt"), "wb") as f:
            f.write(b"10110011\r\n1010\r\n")  # 12 bits
        pane = self.start(workdir, shlex.quote(opfile))
        pane.wait_for("the question", lambda lines: any(l.startswith(QUESTION) for l in lines))
        pane.type_line("DL1ABC")
        lines = pane.wait_for_line(" 12 Bits")
        self.assertIn("     10110011", lines, pane.dump())
        self.assertIn("     10100000", lines, pane.dump())
        self.assertIn("OpSymbs.inc Written", lines, pane.dump())
        self.assertFalse(os.path.exists(os.path.join(workdir, "status")),
                         "opfile ended before a key was pressed:\n" + pane.dump())
        pane.tmux("send-keys", "-l", "x")
        self.assertEqual(pane.wait_for_status(), 0, pane.dump())
        with open(os.path.join(workdir, "OpSymbs.inc"), "rb") as f:
            self.assertEqual(f.read(),
                             b";DL1ABC\r\n"
                             b"\r\n"
                             b"        de   b'10110011'\r\n"
                             b"        de   b'10100000'\r\n")

    def test_opclip_says_when_there_is_no_clipboard(self):
        # No desktop: no helper to try, and that is said, not taken for an empty clipboard.
        opclip = os.path.join(self.root, "usr", "bin", "opclip")
        workdir = self.scratch_dir()
        pane = self.start(workdir, "env -u DISPLAY -u WAYLAND_DISPLAY " + shlex.quote(opclip))
        lines = pane.wait_for_line("No clipboard: neither DISPLAY nor WAYLAND_DISPLAY is set")
        self.assertEqual(lines[0], "Generate OPERA Data include file from clipboard", pane.dump())
        pane.tmux("send-keys", "-l", "x")
        self.assertEqual(pane.wait_for_status(), 1, pane.dump())
        self.assertNotIn("OpSymbs.inc", os.listdir(workdir))


def main():
    global DEB, VERSION
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("package", nargs="?", default=os.path.join(REPO, "build", "default"),
                        help="the .deb, or the build directory that holds it")
    parser.add_argument("--version", help="the Version field the package must have")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    DEB = find_package(args.package)
    VERSION = args.version
    for tool in ("dpkg-deb", "man", "tmux"):
        if shutil.which(tool) is None:
            sys.exit("%s is needed for this test but not installed" % tool)
    print("checking", DEB, flush=True)
    sys.dont_write_bytecode = True
    program = unittest.main(argv=[sys.argv[0]] + (["-v"] if args.verbose else []), exit=False)
    result = program.result
    # A run that executed nothing is no success.
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
