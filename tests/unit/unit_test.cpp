#include <gtest/gtest.h>

#include "bit_file_session.h"
#include "clipboard_session.h"
#include "command_line.h"
#include "support.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <csignal>

#include "code_page.h"
#include "posix/key_decoder.h"
#endif

namespace op {
namespace {

using testing::Data, testing::FakeConsole, testing::ScratchDir;

TEST(TextConsole, PlacementAndLineEditor) {
  // In `ops` '|' ends the line, '#' changes to colour 3, '%' writes -5 and the lowest number, '?' reads a line from `keys`.
  struct Case {
    int width, height; Position start; std::string ops; std::u32string keys;
    std::optional<std::string> line; std::vector<std::string> lines; int row, column;
  };
  const std::string full(kMaxLineLength - 1, '7');
  const Case cases[] = {{10, 4, {2, 3}, "a\r\n\xE9", U"", {}, {"", "  a\r\n\u00E9"}, 2, 7}, {4, 3, {3, 1}, "abcd", U"", {}, {"", "", "abcd"}, 3, 1},
      {4, 3, {3, 1}, "abcd#e", U"", {}, {"", "", "abcd", "e"}, 3, 2}, {4, 5, {1, 1}, "abcde", U"", {}, {"abcd", "e"}, 2, 2},
      {4, 5, {1, 1}, "abcd|x", U"", {}, {"abcd", "", "x"}, 3, 2}, {4, 5, {5, 1}, "wxyz|q", U"", {}, {"", "", "", "", "wxyz", "", "q"}, 5, 2},
      {4, 5, {5, 1}, "w|", U"", {}, {"", "", "", "", "w"}, 5, 1}, {30, 2, {1, 1}, "%", U"", {}, {"-5 -9223372036854775808"}, 1, 25},
      // keys that give no character
      {40, 3, {1, 3}, "?", U"\bab\bc\uE000\uE001\uE002\t\x1b\x03\n \u00E9\u20AC\u4E2D\r", "ac \xE9\x80?",
       {"  ac \u00E9\u20AC\u4E2D"}, 2, 1},
      {4, 3, {2, 3}, "?", U"abcdef\b\b\b\b\bZ\r", "aZ", {"", "  aZ"}, 3, 1},  // back over a row's start and a pending scroll
      {10001, 3, {1, 1}, "?", std::u32string(kMaxLineLength, U'7') + U"8\b9\r", full + "9", {full + "9"}, 2, 1},
      {10, 3, {1, 1}, "?", U"ab", std::nullopt, {"ab"}, 1, 3}};  // the keyboard went away before Enter
  for (const Case& c : cases) {
    FakeConsole screen(c.width, c.height, c.start);
    TextConsole console(screen);
    std::optional<std::string> line;
    screen.Type(c.keys);
    for (const char op : c.ops) {
      op == '|' ? console.LineEnd() : op == '#' ? console.SetColour(3) : op == '?' ? void(line = console.ReadLine())
          : op != '%' ? console.Write({&op, 1}) : (console.WriteNumber(-5), console.WriteNumber(INT64_MIN));
    }
    EXPECT_EQ(std::tuple(line, screen.Lines(), screen.cursor.row, screen.cursor.column, screen.grid.back().back().colours),
              std::tuple(c.line, c.lines, c.row, c.column, c.ops.find('#') == std::string::npos ? 7 : 3)) << c.ops;
  }
}

TEST(CommandLine, CapitalsAndQuotedNames) {
  // イ is E3 82 A4, A4 being the last byte of ä too; one quoted name stands for the name inside.
  const std::pair<std::string, std::string> names[] = {
      {"bits-09.txt", "BITS-09.TXT"}, {"äöüéñåç", "ÄÖÜÉÑÅÇ"}, {"ファイル.txt Łł ÿ", "ファイル.TXT Łł ÿ"}};
  for (const auto& [name, raised] : names) {
    EXPECT_EQ(RaiseToCapitals(name), raised);
  }
  for (const std::string tail : {"\"a\" \"b\"", "\"a", "a \"b\"", "\"my bits.txt\"  "}) {
    EXPECT_EQ(UnquotedName(tail), tail[1] == 'm' ? "my bits.txt" : tail);
  }
}

const std::string W = "OpSymbs.inc Written", Q = "Callsign used, or other comments for .INC file", Clip = "Clipboard Data", G = "     11111111",
                  Banner = "Generate OPERA Data include file from clipboard", Foreign = "Characters other than '1' and '0' stored in clipboard data",
                  Over = "    Overwriting old OpSymbs.inc", One = "     10000000", Fails = "OpSymbs.inc NOT written: *";

// A dialogue: opfile reads OpBits.txt, opclip the clipboard (none: unread); OpSymbs.inc is `old`
// ("" none, "/" a directory), then `file`; '*' ends a line matched by its start.
struct Session {
  bool opfile; std::optional<std::string> input; std::string old; std::u32string keys;
  std::vector<std::string> lines; std::string file; int status; std::size_t beeps;
};

TEST(Sessions, Table) {
  std::vector<Session> cases = {
      {true, "1011001110\r\n", "old", U"DL1ABC\rx", {Over, "", Q + "  DL1ABC", "", "", "", "     10110011", One, "", W, " 10 Bits"},
       ";DL1ABC\r\n\r\n" + Data("10110011") + Data("10000000"), 0, 0},
      {true, std::nullopt, "old", U"", {Over, "", "No File"}, "old", 0, 1},
      {true, "0101", "old", U"DL1", {Over, "", Q + "  DL1"}, "old", 1, 0},  // the terminal closed at the question
      {true, "1", "/", U"\rx", {Q, "", "", "", One, "", Fails, " 1 Bits"}, "/", 1, 1},
      {false, std::string(33, '1') + "\r\n", "", U"K1ABC\rx", {Banner, Clip, std::string(33, '1') + "\r\n", Q + "  K1ABC", "", "", "", G + G + G + G, One,
       "", W, " 33 Bits"}, ";K1ABC\r\n\r\n" + Data("11111111") + Data("11111111") + Data("11111111") + Data("11111111") + Data("10000000"), 0, 0},
      {false, "", "", U"\rx", {Banner, Clip, "", Q, "", "", "", "", "", W, " 0 Bits"}, ";\r\n\r\n'\r\n", 0, 0},
      {false, std::nullopt, "old", U"x", {Banner, "xclip failed"}, "old", 1, 1},
      {false, "1", "/", U"\rx", {Banner, Clip, "1", Q, "", "", "", One, "", Fails, " 1 Bits"}, "/", 1, 1}};
  // Answers to "Abort": only n or N as the first field carries on; '2' is the first foreign character.
  for (const auto& [answer, on] : std::initializer_list<std::pair<std::string, bool>>{{"", 0}, {"y", 0}, {"no", 0}, {"nn", 0}, {"\"\"", 0},
           {",n", 0}, {"n", 1}, {"N", 1}, {"  n", 1}, {"n , more", 1}, {"\"n\"", 1}, {" \"N\" rest", 1}, {"\"n", 1}}) {
    std::vector<std::string> lines = {Banner, Clip, "10 2", Foreign, "Abort   Y/n" + answer};
    if (on) lines.insert(lines.end(), {Over, "", Q + "  C", "", "", "", One, "", W, " 2 Bits"});
    const std::u32string keys = std::u32string(answer.begin(), answer.end()) + (on ? U"\rC\rx" : U"\r");
    cases.push_back({false, "10 2", "old", keys, lines, on ? ";C\r\n\r\n" + Data("10000000") : "old", 0, !on});
  }
  for (const Session& c : cases) {
    ScratchDir dir;
    c.old == "/" ? (void)std::filesystem::create_directory("OpSymbs.inc") : c.old.empty() ? void() : ScratchDir::Put("OpSymbs.inc", c.old);
    if (c.opfile && c.input) ScratchDir::Put("OpBits.txt", *c.input);
    FakeConsole screen(80, 24);
    TextConsole console(screen);
    screen.Type(c.keys);
    const auto files = MakePlatformFileSystem();
    const int status = c.opfile ? BitFileSession(console, *files, "")
                                : ClipboardSession(console, *files, [&] {
                                    return c.input ? ClipboardText{*c.input, {}} : ClipboardText{{}, "xclip failed"};
                                  });
    std::vector<std::string> lines = screen.Lines();
    for (std::size_t i = 0; i < std::min(lines.size(), c.lines.size()); ++i) {
      if (c.lines[i].ends_with('*')) lines[i] = lines[i].substr(0, c.lines[i].size() - 1) + "*";
    }
    EXPECT_EQ(std::tuple(lines, status, screen.beeps, screen.keys.size() - screen.taken, c.old == "/" ? "/" : ScratchDir::Get("OpSymbs.inc")),
              std::tuple(c.lines, c.status, c.beeps, 0u, c.file)) << c.lines.back();
  }
}

#ifndef _WIN32
TEST(KeyDecoder, Table) {
  // Bytes, the key while more may come and (if not the same) once none came: "wait", or kind
  // (Character, Special, Other), code, "+alt", bytes taken.
  const std::array<std::string, 3> cases[] = {{"\x1b", "wait", "C27/1"}, {"\x1b[", "wait", "C91+alt/2"},
      {"\x1bO", "wait", "C79+alt/2"}, {"\x1b[1;5", "wait", "O0/5"}, {"\x1b\x1b[A", "C27/1"}, {"\x1b\x01", "C27/1"},
      {"\x1bx", "C120+alt/2"}, {"\x1b" "5", "C53/2"}, {"\x7f", "C8/1"}, {"\n", "C13/1"}, {"\xf0\x9f\x98\x80", "C128512/4"},
      {"\xc3(", "C65533/1"}, {"\xe2\x82", "wait", "C65533/2"}, {"\x1b[Ax", "S0/3"}, {"\x1b[1;5Cx", "S0/6"},
      {"\x1bOPx", "S0/3"}, {"\x1b[1;2Rx", "S0/6"}, {"\x1b[?1;2ca", "O0/7"}, {"\x1b[M\xff\x80\x1b" "a", "O0/6"}};
  auto describe = [](const DecodedKey& key) {
    if (key.consumed == 0) return std::string("wait");
    return "CSO"[static_cast<int>(key.event.kind)] + std::to_string(key.event.character) +
           (key.event.altLetter ? "+alt/" : "/") + std::to_string(key.consumed);
  };
  for (const auto& [bytes, partial, complete] : cases) {
    EXPECT_EQ(describe(DecodeKey(bytes, false)), partial) << bytes.substr(1);
    EXPECT_EQ(describe(DecodeKey(bytes, true)), complete.empty() ? partial : complete) << bytes.substr(1);
  }
}

TEST(CodePage, WholeTable) {
  std::u32string all, upper = U"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u008D\u017D\u008F"
                              U"\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178";
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i), all += i >= 0x80 && i < 0xA0 ? upper[i - 0x80] : char32_t(i);
  EXPECT_EQ(std::tuple(FromCodePage(bytes), ToCodePage(all), ToCodePage(U"\u0100\u4E2D")), std::tuple(all, bytes, "??"));
}

TEST(PosixFiles, OutputReplacedWholeOrNotAtAllAndInputOrdinary) {
  std::signal(SIGXFSZ, SIG_IGN);
  static const rlimit unlimited = [] { rlimit limit{}; getrlimit(RLIMIT_FSIZE, &limit); return limit; }();
  static int held = -1;
  const mode_t mask = ::umask(022);
  // What is in the way and why it stays, or the mode a written OpSymbs.inc has; no file is left beside it.
  const std::tuple<void (*)(), std::string, int> cases[] = {
      {[] { ::mkdir("OpSymbs.inc", 0700); }, "Is a directory", 0},
      {[] { ::symlink("/dev/full", "OpSymbs.inc"); }, "not an ordinary file", 0},
      {[] { ::mkfifo("OpSymbs.inc", 0600); }, "not an ordinary file", 0},
      // a lock held through another open of the file
      {[] { ScratchDir::Put("OpSymbs.inc", "old"); held = ::open("OpSymbs.inc", O_RDONLY); ::flock(held, LOCK_EX); },
       "in use by another program", 0},
      {[] { rlimit small = unlimited; small.rlim_cur = 70000; ScratchDir::Put("OpSymbs.inc", "old"); setrlimit(RLIMIT_FSIZE, &small); },
       "File too large", 0},
      // written through a link: the real file keeps its mode
      {[] { ::mkdir("real", 0700); ScratchDir::Put("real/a.inc", "old"); ::chmod("real/a.inc", 0604); ::symlink("real/a.inc", "OpSymbs.inc"); },
       "", 0604},
      {[] { ::umask(027); }, "", 0640}};
  for (const auto& [make, reason, mode] : cases) {
    ScratchDir dir;
    make();
    FakeConsole screen(80, 30);
    const bool written = Convert(screen, EchoLayout::GroupPerLine, "", std::string(40000, '1') + "0");
    setrlimit(RLIMIT_FSIZE, &unlimited), ::umask(mask);
    if (held >= 0) ::close(std::exchange(held, -1));
    namespace fs = std::filesystem;
    const std::size_t size = reason.empty() ? 5 + 5001 * 26 : 3, names = std::distance(fs::directory_iterator("."), {});
    const auto perms = mode ? fs::status("OpSymbs.inc").permissions() : fs::perms(0);
    const std::size_t found = fs::is_regular_file("OpSymbs.inc") ? ScratchDir::Get("OpSymbs.inc").size() : size;
    const bool linkKept = mode != 0604 || fs::is_symlink("OpSymbs.inc");
    EXPECT_EQ(std::tuple(written, screen.Lines().end()[-2], screen.Lines().back(), names + fs::exists("real/a.inc"), linkKept, found, perms),
              std::tuple(reason.empty(), reason.empty() ? W : "OpSymbs.inc NOT written: " + reason, " 40001 Bits",
                         mode == 0604 ? 3u : 1u, true, size, fs::perms(mode)));
  }
  ScratchDir dir;
  ScratchDir::Put("OpBits.txt", "1"), ScratchDir::Put("other", "1");
  ::symlink("OpBits.txt", "link"), ::link("OpBits.txt", "hard"), ::mkfifo("pipe", 0600), ::mkdir("dir", 0700);
  const auto files = MakePlatformFileSystem();
  std::string error;
  for (const char* name : {"/dev/zero", "pipe", "dir", "missing"}) {
    EXPECT_TRUE(!files->OpenInput(name, error) && !std::exchange(error, "").empty()) << name;
  }
  const auto input = files->OpenInput("OpBits.txt", error);
  for (const std::string name : {"link", "hard", "OpBits.txt", "other", "missing"}) {
    EXPECT_EQ(input->IsSameFileAs(name), name != "other" && name != "missing") << name;
  }
}

TEST(PosixClipboard, HelpersOnThePath) {
  ScratchDir dir;
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", dir.path.c_str(), 1), ::setenv("DISPLAY", ":0", 1), ::unsetenv("WAYLAND_DISPLAY");
  auto read = [](const std::string& xclip, const std::string& xsel) {  // no script: no such helper
    for (const auto& [name, script] : {std::pair{"xclip", xclip}, {"xsel", xsel}}) {
      script.empty() ? void(std::filesystem::remove(name)) : (ScratchDir::Put(name, "#!/bin/sh\n" + script + "\n"), void(::chmod(name, 0700)));
    }
    const ClipboardText got = ReadClipboardText();
    return std::pair(got.text, got.failure);
  };
  const std::array<std::string, 4> cases[] = {{"printf '10\\000 11'", "", "10", ""},
      {"echo 'Error: target UTF8_STRING not available' >&2; exit 1", "printf 11", "", ""},  // empty, not unread
      {"echo oops >&2; exit 1", "printf '\\342\\202\\254 01'", "\x80 01", ""},
      {"echo 'bad thing' >&2; echo more >&2; exit 4", "exit 3", "", "Clipboard not read: xclip failed: bad thing, xsel failed: exit status 3"},
      {"exec /bin/sleep 5", "printf 11", "", "Clipboard not read: xclip did not answer within 2 s"},
      {"", "", "", "No clipboard reader: install xclip, xsel or wl-clipboard"}};
  for (const auto& [xclip, xsel, text, failure] : cases) EXPECT_EQ(read(xclip, xsel), std::pair(text, failure)) << xclip;
  // A helper started while this process ignores SIGPIPE gets it back at its default.
  std::signal(SIGPIPE, SIG_IGN);
  const auto ignored = read("exec /bin/sed -n 's/^SigIgn:\\s*//p' /proc/self/status", "");
  std::signal(SIGPIPE, SIG_DFL);
  EXPECT_EQ(std::stoull("0" + ignored.first, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << ignored.second;
  ::setenv("PATH", path.c_str(), 1);
}
#endif

}  // namespace
}  // namespace op
