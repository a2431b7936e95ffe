#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <functional>

#include "bit_file_reader.h"
#include "bit_file_session.h"
#include "command_line.h"
#include "fake_console.h"
#include "scratch_dir.h"

namespace op {
namespace {

using testing::FakeConsole;
using testing::FaultyFiles;
using testing::ScratchDir;

TEST(CommandLine, TailAndInputName) {
  EXPECT_EQ(TailOfCommandLine(u"opfile"), u"");
  EXPECT_EQ(TailOfCommandLine(u"opfile   bits.txt  more "), u"bits.txt  more ");
  EXPECT_EQ(TailOfCommandLine(u"\"C:\\my tools\\opfile.exe\" \"a b.txt\""), u"\"a b.txt\"");
  EXPECT_EQ(TailOfCommandLine(u"\"unclosed name"), u"");
  EXPECT_EQ(TailOfCommandLine(u"opfile\tx"), u"\tx");  // only spaces are skipped

  EXPECT_EQ(ChooseInputName(""), "OpBits.txt");
  // One quoted name stands for the name inside; any other tail stays.
  using Row = std::pair<std::string_view, std::string_view>;
  for (const auto& [tail, name] : {Row{"\"my bits.txt\"  ", "my bits.txt"}, Row{"\"\"", ""}}) {
    EXPECT_EQ(UnquotedName(tail), name) << tail;
  }
  for (const std::string_view tail : {"\"a\" \"b\"", "\"a", "\"", "a \"b\""}) {
    EXPECT_EQ(UnquotedName(tail), tail) << tail;
  }
#ifndef _WIN32
  char program[] = "opfile", first[] = "my", second[] = "bits.txt";
  char* argv[] = {program, first, second};
  EXPECT_EQ(CommandTail(3, argv), "my bits.txt");
  EXPECT_EQ(CommandTail(1, argv), "");
  EXPECT_EQ(ChooseInputName("bits.txt"), "bits.txt");  // case-sensitive names stay as typed
#endif
}

TEST(CommandLine, CapitalsTable) {
  // UTF-8 by characters: a..z and the seven accented letters; ファイル
  // (イ is E3 82 A4, A4 being the last byte of ä too), Ł, ł and ÿ stay.
  EXPECT_EQ(RaiseToCapitals("bits-09.txt"), "BITS-09.TXT");
  EXPECT_EQ(RaiseToCapitals("äöüéñåç"), "ÄÖÜÉÑÅÇ");
  EXPECT_EQ(RaiseToCapitals("ファイル.txt Łł ÿ"), "ファイル.TXT Łł ÿ");
  EXPECT_EQ(RaiseToCapitals("\xC3"), "\xC3");
}

TEST(BitFileReader, DeliversEveryByteOnceInOrderThenTheEndByte) {
  ScratchDir dir;
  std::string all;
  for (int i = 0; i < 256 * 300; ++i) all.push_back(static_cast<char>(i * 7));
  ScratchDir::Put("in.bin", all);
  FaultyFiles files;
  files.piece = 1000;
  BitFileReader reader(files);
  ASSERT_TRUE(reader.OpenInput("in.bin"));
  std::string got;
  while (!reader.AtEnd()) got.push_back(static_cast<char>(reader.ReadByte()));
  EXPECT_EQ(got, all + '\0');  // the read that finds the end gives the byte 0
  EXPECT_EQ(files.reads, 78);  // 77 pieces and the one that found the end
  EXPECT_TRUE(reader.Failure().empty());

  // Whatever the name stands for when it is opened must be an ordinary file.
  std::filesystem::create_directory("folder");
  EXPECT_FALSE(reader.OpenInput("folder"));
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.OpenInput("missing.bin"));
  EXPECT_FALSE(reader.Failure().empty());
#ifdef _WIN32
  for (const char* name : {"in*.bin", "CON", "NUL"}) {
#else
  ::mkfifo("pipe", 0600);
  for (const char* name : {"/dev/zero", "pipe"}) {
#endif
    EXPECT_FALSE(reader.OpenInput(name)) << name;
    EXPECT_NE(reader.Failure(), "") << name;
  }
}

struct Session {
  FakeConsole screen{80, 24};
  TextConsole console{screen};
  int status = -1;

  Session(FileSystem& files, std::string_view tail, std::u32string keys) {
    console.Open();
    screen.Type(keys);
    status = BitFileSession(console, files, tail);
  }
  std::vector<std::string> Rows() const { return screen.RowsAboveCursor(); }
};

TEST(BitFileSession, FullRun) {
  ScratchDir dir;
  ScratchDir::Put("OpBits.txt", "1011001110\r\n");
  ScratchDir::Put("OpSymbs.inc", "old");
  FaultyFiles files;
  Session run(files, "", U"DL1ABC\rx");
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> expected = {
      "    Overwriting old OpSymbs.inc",
      "",
      "Callsign used, or other comments for .INC file  DL1ABC",
      "",
      "",
      "",
      "     10110011",
      "     10000000",
      "",
      "OpSymbs.inc Written",
      " 10 Bits",
  };
  EXPECT_EQ(run.Rows(), expected);
  EXPECT_EQ(run.screen.At(7, 6).colours, 3);
  EXPECT_EQ(run.screen.At(11, 2).colours, 7);
  EXPECT_EQ(run.screen.keysTaken, 8);  // the comment, Enter and the final key
  EXPECT_EQ(run.screen.beeps, 0);
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"),
            ";DL1ABC\r\n\r\n        de   b'10110011'\r\n        de   b'10000000'\r\n");
}

TEST(BitFileSession, MissingInputStopsBeforeAnyQuestion) {
  ScratchDir dir;
  ScratchDir::Put("OpSymbs.inc", "old");
  std::filesystem::create_directory("OpBits.txt");
  FaultyFiles files;
  Session run(files, "", U"x\r");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.Rows(), (std::vector<std::string>{"    Overwriting old OpSymbs.inc", "", "No File"}));
  EXPECT_EQ(run.screen.beeps, 1);
  EXPECT_EQ(run.screen.keysTaken, 0);
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");
}

TEST(BitFileSession, InputThatCannotBeReadLeavesTheOldFileAlone) {
  struct Case {
    std::string tail;
    std::function<void(FaultyFiles&)> make;  // after the existence test
    std::string report;
  };
  const std::vector<Case> cases = {
      {"", [](FaultyFiles& files) { files.openFailure = "Permission denied"; },
       "OpBits.txt cannot be opened: Permission denied"},
#ifdef _WIN32  // a name on the command line is raised to capitals there
      {"OpSymbs.inc", [](FaultyFiles&) {}, "OPSYMBS.INC and OpSymbs.inc are the same file: nothing written"},
#else
      {"OpSymbs.inc", [](FaultyFiles&) {}, "OpSymbs.inc and OpSymbs.inc are the same file: nothing written"},
      {"", [](FaultyFiles&) { std::filesystem::remove("OpBits.txt"), ::symlink("OpSymbs.inc", "OpBits.txt"); },
       "OpBits.txt and OpSymbs.inc are the same file: nothing written"},
      {"", [](FaultyFiles&) { std::filesystem::remove("OpBits.txt"), ::symlink("/dev/zero", "OpBits.txt"); },
       "OpBits.txt cannot be opened: not an ordinary file"},
#endif
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    ScratchDir::Put("OpBits.txt", "0101");
    ScratchDir::Put("OpSymbs.inc", "        de   b'01010000'\r\n");
    FaultyFiles files;
    files.beforeOpen = [&] { c.make(files); };
    Session run(files, c.tail, U"C\rx");
    EXPECT_EQ(run.status, 1) << c.report;
    EXPECT_EQ(run.Rows().back(), c.report);
    EXPECT_EQ(run.screen.beeps, 1) << c.report;
    EXPECT_EQ(run.screen.keysTaken, 3) << c.report;
    EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "        de   b'01010000'\r\n") << c.report;
  }
}

TEST(BitFileSession, ATerminalClosedAtTheQuestionLeavesTheOldFileAlone) {
  ScratchDir dir;
  ScratchDir::Put("OpBits.txt", "0101");
  ScratchDir::Put("OpSymbs.inc", "old");
  FaultyFiles files;
  FakeConsole screen(80, 24);
  TextConsole console(screen);
  console.Open();
  screen.Type(U"DL1");
  EXPECT_EQ(BitFileSession(console, files, ""), 1);  // the script's end: the keyboard is gone
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");
}

TEST(BitFileSession, ReadFailureMidwayIsReportedNotWritten) {
  ScratchDir dir;
  ScratchDir::Put("OpBits.txt", std::string(100, '1'));
  ScratchDir::Put("OpSymbs.inc", "old");
  FaultyFiles files;
  files.failAfter = 30;
  Session run(files, "", U"\rx");
  EXPECT_EQ(run.status, 1);
  const auto rows = run.Rows();
  EXPECT_EQ(rows[rows.size() - 2],
            "OpSymbs.inc NOT written: reading OpBits.txt failed: Input/output error");
  EXPECT_EQ(rows.back(), " 30 Bits");
  EXPECT_EQ(run.screen.beeps, 1);
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2);  // no file left behind
}

}  // namespace
}  // namespace op
