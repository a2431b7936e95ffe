"""End-to-end tests: opfile.exe and opclip.exe through Wine in tmux panes. Wine draws colour 7 as the
terminal's default or not, cells holding control characters as '?'; its clipboard is a private Xvfb's."""
import os, shutil, subprocess, sys, tempfile, unittest  # noqa: E401
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_driver import (CYAN, GREY, OLD_INCLUDE, OVERWRITE_NOTICE, QUESTION, STATUS_FILE, WRITTEN,  # noqa: E402
                         TmuxPane, dialogue_rows, expected_include, launch_script, main_under_xvfb, wait_for)

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXE = {t: os.environ.get(t.upper() + "_EXE", f"{REPO}/build/windows/{t}/{t}.exe") for t in ("opfile", "opclip")}
WINE = os.environ.get("WINE") or shutil.which("wine64") or "/usr/lib/wine/wine64"
ENV = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8",
           WINEPREFIX=os.environ.get("WINEPREFIX", f"{REPO}/build/windows/wine-prefix"))
DENIED = "OpSymbs.inc NOT written: Access denied"  # Wine's words; Windows says "Access is denied"
TEXT = "0110100111110000\r\n10101010\r\n1100110000110011\r\n"  # on the clipboard, then a zero and more
HEAD = {"Generate OPERA Data include file from clipboard": 93, "Clipboard Data": 95,
        "0110100111110000??10101010??1100110000110011??": 95}  # opclip's first rows and their colours


def screen(comment, data, result, per_row, head=()): return [*head, *dialogue_rows(comment, data, result, per_row)]


EXAMPLE = Path(REPO, "examples", "OpBits.txt").read_bytes()
COMMENT, SAME = "DL1ABC JO31", "OPSYMBS.INC and OpSymbs.inc are the same file: nothing written"
# tool, arguments (cmd's redirections last), files (None: a folder), typing at the question, the rows at
# the end (the last 12 in a pane of 13), the key that ends, exit status, OpSymbs.inc after
RUNS = [("opfile", ["my bits.txt", ">out.txt", "2>err.txt"], {"my bits.txt": EXAMPLE}, ["DL1ABX", "BSpace", "C JO31"],
         screen(COMMENT, EXAMPLE, WRITTEN, 1), "x", 0, expected_include(COMMENT, EXAMPLE)),
        ("opfile", ["opsymbs.inc"], {"OpBits.txt": EXAMPLE, "OpSymbs.inc": OLD_INCLUDE}, ["K1"],
         [OVERWRITE_NOTICE, "", QUESTION + "K1", "", "", SAME], "Escape", 1, OLD_INCLUDE),
        ("opfile", [".bits.txt"], {".bits.txt": b"0101", "OpSymbs.inc": OLD_INCLUDE}, None,  # hidden in Wine
         [OVERWRITE_NOTICE, "", "No File"], None, 0, OLD_INCLUDE),
        ("opfile", [], {"OpBits.txt": b"11", "OpSymbs.inc": None}, ["K1"], screen("K1", "11", DENIED, 1), "x", 1),
        ("opclip", [], {}, [COMMENT], screen(COMMENT, TEXT, WRITTEN, 4, HEAD), "x", 0, expected_include(COMMENT, TEXT)),
        ("opclip", [], {"OpSymbs.inc": None}, ["K1"], screen("K1", TEXT, DENIED, 4, HEAD), "x", 1)]


class WineTest(unittest.TestCase):
    def test_runs(self):
        data = (TEXT + "\0" + "1" * 8).encode()  # copied text, the zero usually ending it included
        subprocess.run(["xclip", "-selection", "clipboard"], input=data, env=ENV, stdout=subprocess.DEVNULL)
        wait_for(lambda: subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=ENV, capture_output=True).stdout
                 == data, "the clipboard to hold the text")
        for run in RUNS:
            with self.subTest(tool=run[0], args=run[1]):
                self.run_tool(*run)

    def run_tool(self, tool, args, files, typing, rows, key, status, include=None):
        folder = self.enterContext(tempfile.TemporaryDirectory(prefix="op-wine-"))
        for name, data in files.items():
            Path(folder, name).mkdir() if data is None else Path(folder, name).write_bytes(data)
        pane = TmuxPane(80, 13)
        self.addCleanup(pane.close)
        pane.env.update(ENV)
        exe = ["cmd", "/c", "Z:" + EXE[tool].replace("/", "\\")] if ">out.txt" in args else [EXE[tool]]
        pane.start("stty -g >modes; " + launch_script(folder, [WINE, *exe, *args]), folder)
        if typing is not None:
            pane.wait_for_text(QUESTION.rstrip(), 60)
            pane.send_keys(*typing, "Enter")  # tmux sends what is no key's name as it is
        rows = rows[max(0, len(rows) - 12):]  # the cursor below the last
        cells = pane.wait_until(lambda lines: lines == rows + [""] * (13 - len(rows)), "\n".join(rows), 20)
        for row, line in zip(cells, rows):  # opfile's echo in cyan, the dialogue in colour 7
            want = HEAD.get(line, CYAN if line.startswith("     ") and tool == "opfile" else GREY)
            self.assertLessEqual({c.fg for c in row if c.char != " "}, {want, None if want == GREY else want}, line)
        if key:
            self.assertFalse(os.path.exists(os.path.join(folder, STATUS_FILE)), "no key awaited\n" + pane.dump())
            pane.send_keys(key)
        self.assertEqual(int(pane.wait_for_file(os.path.join(folder, STATUS_FILE), 20)), status, pane.dump())
        self.assertEqual(include and Path(folder, "OpSymbs.inc").read_bytes(), include)
        tty = pane.tmux("display-message", "-p", "#{pane_tty}").strip()
        modes = lambda: subprocess.run(["stty", "-g", "-F", tty], capture_output=True, text=True).stdout  # noqa: E731
        wait_for(lambda: modes() == Path(folder, "modes").read_text(), "the terminal's modes back", 5)


def setUpModule():  # Wine's sessions end before the tests and after them, within the X server's life
    assert os.environ.get("OP_XVFB"), "needs xvfb-run: Wine's clipboard is the X server's"
    server = [os.path.join(os.path.dirname(os.path.realpath(WINE)), "wineserver"), "-w"]
    subprocess.run(server, env=ENV)
    unittest.addModuleCleanup(subprocess.run, server, env=ENV)
    subprocess.run([WINE, "cmd", "/c", "exit"], env=ENV, timeout=300, check=True, capture_output=True)


if __name__ == "__main__":
    main_under_xvfb()
