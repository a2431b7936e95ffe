#include <gtest/gtest.h>

#include "clipboard_session.h"
#include "fake_console.h"
#ifndef _WIN32
#include "posix/helper_process.h"
#endif
#include "scratch_dir.h"

namespace op {
namespace {

using testing::FakeConsole;
using testing::ScratchDir;
using namespace std::chrono_literals;

TEST(FirstField, ContinuingAndAbortingAnswers) {
  for (const char* answer : {"n", "N", "  n  ", "n, and more", "\"n\"", " \"N\" rest", "n,"}) {
    std::string field = FirstField(answer);
    EXPECT_TRUE(field == "n" || field == "N") << answer;
  }
  EXPECT_EQ(FirstField(""), "");
  EXPECT_EQ(FirstField("   "), "");
  EXPECT_EQ(FirstField("no"), "no");
  EXPECT_EQ(FirstField("nn"), "nn");
  EXPECT_EQ(FirstField("\""), "");             // a lone quote
  EXPECT_EQ(FirstField("\"a, b"), "a, b");     // unclosed quotes run to the end
  EXPECT_EQ(FirstField("x y , z"), "x y");
  EXPECT_EQ(FirstField(" ,n"), "");
}

TEST(HasForeignCharacter, BoundaryIsFifty) {
  EXPECT_FALSE(HasForeignCharacter(""));
  EXPECT_FALSE(HasForeignCharacter("01\r\n\t ,-./!1"));
  EXPECT_FALSE(HasForeignCharacter(std::string("\x01\x31", 2)));  // 1 and 49
  EXPECT_TRUE(HasForeignCharacter("0102"));                          // 50
  EXPECT_TRUE(HasForeignCharacter("01\x7f"));                        // 127
  EXPECT_TRUE(HasForeignCharacter("01\x80"));                        // 128
  EXPECT_TRUE(HasForeignCharacter("01\xff"));                        // 255
}

struct ClipRun {
  FakeConsole screen{80, 40};
  TextConsole console{screen};
  int status = -1;
  ClipRun(std::string text, std::u32string keys, std::string failure = {}) {
    console.Open();
    screen.Type(keys);
    auto files = MakePlatformFileSystem();
    status = ClipboardSession(console, *files, [&] { return ClipboardText{text, failure}; });
  }
  std::vector<std::string> Rows() const { return screen.RowsAboveCursor(); }
};

TEST(ClipboardSession, PlainBitsGoStraightToTheComment) {
  ScratchDir dir;
  ClipRun run(std::string(33, '1') + "\r\n", U"K1ABC\rx");
  EXPECT_EQ(run.status, 0);
  const std::string group = "     11111111";
  const std::vector<std::string> expected = {
      "Generate OPERA Data include file from clipboard",
      "Clipboard Data",
      std::string(33, '1') + "\r\n",  // CR and LF shown as cells
      "Callsign used, or other comments for .INC file  K1ABC",
      "",
      "",
      "",
      group + group + group + group,
      "     10000000",
      "",
      "OpSymbs.inc Written",
      " 33 Bits",
  };
  EXPECT_EQ(run.Rows(), expected);
  EXPECT_EQ(run.screen.At(1, 1).colours, 14);
  EXPECT_EQ(run.screen.At(2, 1).colours, 13);
  EXPECT_EQ(run.screen.At(3, 1).colours, 13);
  EXPECT_EQ(run.screen.At(8, 6).colours, 7);
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc").substr(0, 10), ";K1ABC\r\n\r\n");
}

TEST(ClipboardSession, ForeignCharactersAskWhetherToAbort) {
  ScratchDir dir;
  ScratchDir::Put("OpSymbs.inc", "old");
  for (const std::u32string answer : {U"\r", U"y\r", U"no\r", U"x\r"}) {
    ClipRun run("10 2", answer + U"C\rx");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.screen.beeps, 1);
    EXPECT_EQ(run.Rows().back(), "Abort   Y/n" + std::string(answer.begin(), answer.end() - 1));
    EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");
  }
  ClipRun go("1a0", U" \"n\"\rC\rx");
  EXPECT_EQ(go.status, 0);
  EXPECT_EQ(go.Rows()[3], "Characters other than '1' and '0' stored in clipboard data");
  EXPECT_EQ(go.Rows()[5], "    Overwriting old OpSymbs.inc");
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";C\r\n\r\n        de   b'10000000'\r\n");
}

TEST(ClipboardSession, ATerminalClosedAtAQuestionLeavesTheOldFileAlone) {
  ScratchDir dir;
  ScratchDir::Put("OpSymbs.inc", "old");
  for (const std::string clipboard : {"10x", "10"}) {  // at the abort question, at the comment
    FakeConsole screen(80, 24);
    TextConsole console(screen);
    console.Open();
    screen.Type(U"n");  // then the keyboard is gone
    auto files = MakePlatformFileSystem();
    EXPECT_EQ(ClipboardSession(console, *files, [&] { return ClipboardText{clipboard, {}}; }), 1)
        << clipboard;
    EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");
    EXPECT_EQ(screen.beeps, 0);
  }
}

TEST(ClipboardSession, EmptyClipboardWritesTheLoneQuoteButAnUnreadOneNothing) {
  ScratchDir dir;
  ScratchDir::Put("OpSymbs.inc", "old");
  ClipRun unread("", U"x\r", "xclip did not answer within 2 s");
  EXPECT_EQ(unread.status, 1);
  EXPECT_EQ(unread.Rows(), (std::vector<std::string>{"Generate OPERA Data include file from clipboard",
                                                     "xclip did not answer within 2 s"}));
  EXPECT_EQ(unread.screen.beeps, 1);
  EXPECT_EQ(unread.screen.keysTaken, 1);  // the key that ends it
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");

  ClipRun run("", U"\rx");
  EXPECT_EQ(run.Rows()[2], "");
  EXPECT_EQ(run.Rows().back(), " 0 Bits");
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";\r\n\r\n'\r\n");
}

TEST(ClipboardSession, AMillionCharacterTextConvertsCompletely) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 250000; ++i) text += (i % 3 == 0) ? "10\r\n" : "0110";
  ClipRun run(text, U"\rx");
  EXPECT_EQ(run.status, 0);
  const std::string file = ScratchDir::Get("OpSymbs.inc");
  const std::size_t bits = 250000 / 3 * 2 + 2 + (250000 - 250000 / 3 - 1) * 4;
  std::string count = " ";  // built in steps: g++ 12 warns wrongly on " " + ... + " Bits"
  count.append(std::to_string(bits)).append(" Bits");
  EXPECT_EQ(run.Rows().back(), count);
  EXPECT_EQ(file.size(), 5 + (bits + 7) / 8 * 26);
  EXPECT_EQ(file.substr(file.size() - 26), "        de   b'10100000'\r\n");  // ...0110 10 10
}

#ifndef _WIN32
TEST(HelperProcess, OutputFailureMissingAndHang) {
  using Outcome = HelperResult::Outcome;
  struct Case {
    std::vector<std::string> command;
    Outcome outcome;
    std::string output, complaint;
    int exitStatus;
  };
  const std::vector<Case> cases = {
      {{"sh", "-c", "printf '1\\r\\n0'; echo oops >&2"}, Outcome::Succeeded, "1\r\n0", "oops", 0},
      {{"sh", "-c", "printf 101; echo 'Error: target STRING not available' >&2; echo more >&2; exit 3"},
       Outcome::Failed, "", "Error: target STRING not available", 3},
      {{"sh", "-c", "kill -9 $$"}, Outcome::Failed, "", "", 137},
      {{"no-such-clipboard-helper"}, Outcome::Missing, "", "", 0},
      {{"sh", "-c", "printf 1; exec sleep 30"}, Outcome::TimedOut, "", "", 0},
      // Done with its output, yet still running: a hang all the same.
      {{"sh", "-c", "exec >&-; sleep 30"}, Outcome::TimedOut, "", "", 0},
      {{"sh", "-c", "head -c 5000 /dev/zero"}, Outcome::TooLong, "", "", 0},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const HelperResult result = RunHelper(c.command, 300ms, 4096);
    EXPECT_EQ(result.outcome, c.outcome) << c.command.back();
    EXPECT_EQ(result.output, c.output) << c.command.back();
    EXPECT_EQ(result.complaint, c.complaint) << c.command.back();
    EXPECT_EQ(result.exitStatus, c.exitStatus) << c.command.back();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << c.command.back();
  }
}
#endif

}  // namespace
}  // namespace op
