#include "symbol_include.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>

#include <gtest/gtest.h>

#include "fake_console.h"
#include "scratch_dir.h"

namespace op {
namespace {

using testing::FakeConsole;
using testing::ScratchDir;

constexpr const char* kPrefix = "        de   b'";

struct Conversion {
  FakeConsole screen;
  TextConsole console{screen};
  std::unique_ptr<FileSystem> files = MakePlatformFileSystem();
  bool written = false;

  Conversion(EchoLayout layout, std::string_view comment, std::string_view stream, int width = 40)
      : screen(width, 30) {
    console.Open();
    SymbolIncludeWriter writer(console, *files, layout);
    writer.Begin(comment);
    for (const char c : stream) writer.Feed(c);
    written = writer.Finish();
  }
};

std::string Data(const std::string& bits) { return kPrefix + bits + "'\r\n"; }

TEST(SymbolIncludeWriter, WritesExactBytesForWholeAndPartialGroups) {
  ScratchDir dir;
  EXPECT_TRUE(Conversion(EchoLayout::GroupPerLine, "", "").written);
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";\r\n\r\n'\r\n");

  Conversion(EchoLayout::GroupPerLine, "DL1ABC, \"x\"", "10110011");
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";DL1ABC, \"x\"\r\n\r\n" + Data("10110011"));

  Conversion(EchoLayout::GroupPerLine, "T", "101100111");
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";T\r\n\r\n" + Data("10110011") + Data("10000000"));

  // Non-bit bytes of every kind between the bits change nothing.
  constexpr char kMixed[] = "1 0,1\r\n1\x00\x1a" "2a\xff" "0011 1010";
  Conversion(EchoLayout::RowsOf32, "TEST", std::string(kMixed, sizeof kMixed - 1));
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";TEST\r\n\r\n" + Data("10110011") + Data("10100000"));
}

TEST(SymbolIncludeWriter, ReplacesALongerOldFileCompletely) {
  ScratchDir dir;
  ScratchDir::Put("OpSymbs.inc", std::string(5000, 'x'));
  Conversion(EchoLayout::GroupPerLine, "", "1");
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";\r\n\r\n" + Data("10000000"));
}

TEST(SymbolIncludeWriter, GroupPerLineEchoAndSummary) {
  ScratchDir dir;
  Conversion run(EchoLayout::GroupPerLine, "", "1011001110");
  // Each group starts a row indented by five spaces, in cyan; the padding
  // zeros follow the last bit; the summary is light grey.
  EXPECT_EQ(run.screen.Text(1), "");
  EXPECT_EQ(run.screen.Text(2), "     10110011");
  EXPECT_EQ(run.screen.Text(3), "     10000000");
  EXPECT_EQ(run.screen.At(3, 13).colours, 3);
  EXPECT_EQ(run.screen.Text(4), "");
  EXPECT_EQ(run.screen.Text(5), "OpSymbs.inc Written");
  EXPECT_EQ(run.screen.Text(6), " 10 Bits");
  EXPECT_EQ(run.screen.At(6, 2).colours, 7);
  EXPECT_EQ(run.screen.Cursor(), (Position{7, 1}));
}

TEST(SymbolIncludeWriter, RowsOf32Echo) {
  ScratchDir dir;
  Conversion run(EchoLayout::RowsOf32, "", std::string(33, '1'));
  const std::string group = "     11111111";
  // 40 columns: the fourth group's indent wraps after its first space.
  EXPECT_EQ(run.screen.Text(2), group + group + group);
  EXPECT_EQ(run.screen.Text(3), "    11111111");
  EXPECT_EQ(run.screen.Text(4), "     10000000");
  EXPECT_EQ(run.screen.Text(5), "");
  EXPECT_EQ(run.screen.Text(6), "OpSymbs.inc Written");
  EXPECT_EQ(run.screen.Text(7), " 33 Bits");
}

TEST(SymbolIncludeWriter, CountsPastSixteenBits) {
  ScratchDir dir;
  Conversion run(EchoLayout::RowsOf32, "", std::string(40000, '0') + "1");
  EXPECT_TRUE(run.written);
  EXPECT_EQ(std::filesystem::file_size("OpSymbs.inc"), 3 + 2 + 5001u * 26);
  EXPECT_EQ(run.screen.Text(run.screen.Cursor().row - 1), " 40001 Bits");
}

TEST(SymbolIncludeWriter, NeverReportsAFailedWriteAsWritten) {
  ScratchDir dir;
  // Cannot be opened at all: a directory of that name.
  std::filesystem::create_directory("OpSymbs.inc");
  Conversion blocked(EchoLayout::GroupPerLine, "", "10", 80);
  EXPECT_FALSE(blocked.written);
  const std::string report = blocked.screen.Text(blocked.screen.Cursor().row - 2);
  EXPECT_EQ(report.substr(0, 25), "OpSymbs.inc NOT written: ") << report;
  EXPECT_GT(report.size(), 25u);  // and a reason
  EXPECT_EQ(blocked.screen.Text(blocked.screen.Cursor().row - 1), " 2 Bits");
#ifndef _WIN32
  EXPECT_EQ(report, "OpSymbs.inc NOT written: Is a directory");
  std::filesystem::remove("OpSymbs.inc");
  // A write that fails: the disk is full.
  ::symlink("/dev/full", "OpSymbs.inc");
  Conversion full(EchoLayout::GroupPerLine, "", "10", 80);
  EXPECT_FALSE(full.written);
  EXPECT_EQ(full.screen.Text(full.screen.Cursor().row - 2),
            "OpSymbs.inc NOT written: No space left on device");
  std::filesystem::remove("OpSymbs.inc");
  // A dangling link into a directory that does not exist.
  ::symlink("no-such-dir/OpSymbs.inc", "OpSymbs.inc");
  Conversion dangling(EchoLayout::GroupPerLine, "", "10", 80);
  EXPECT_FALSE(dangling.written);
  EXPECT_EQ(dangling.screen.Text(dangling.screen.Cursor().row - 2),
            "OpSymbs.inc NOT written: No such file or directory");
#endif
}

#ifndef _WIN32  // symbolic links, pipes and dot names are POSIX matters
TEST(SharedSteps, OrdinaryFileExistsCountsOnlyOrdinaryFiles) {
  ScratchDir dir;
  auto files = MakePlatformFileSystem();
  ScratchDir::Put("bits.txt", "1");
  ScratchDir::Put(".hidden", "1");
  std::filesystem::create_directory("folder.txt");
  ::symlink("bits.txt", "link.txt");
  ::symlink("missing", "dangling.txt");
  ::mkfifo("pipe.txt", 0600);
  EXPECT_TRUE(OrdinaryFileExists(*files, "bits.txt"));
  EXPECT_TRUE(OrdinaryFileExists(*files, "link.txt"));
  EXPECT_TRUE(OrdinaryFileExists(*files, "b?ts.*"));
  EXPECT_TRUE(OrdinaryFileExists(*files, "*"));
  EXPECT_TRUE(OrdinaryFileExists(*files, ".hid*"));
  EXPECT_FALSE(OrdinaryFileExists(*files, "*hidden"));  // a dot is matched only by a dot
  EXPECT_FALSE(OrdinaryFileExists(*files, "BITS.TXT"));
  EXPECT_FALSE(OrdinaryFileExists(*files, "folder.txt"));
  EXPECT_FALSE(OrdinaryFileExists(*files, "folder*"));
  EXPECT_FALSE(OrdinaryFileExists(*files, "dangling.txt"));
  EXPECT_FALSE(OrdinaryFileExists(*files, "pipe.txt"));
  EXPECT_FALSE(OrdinaryFileExists(*files, ""));
  EXPECT_TRUE(OrdinaryFileExists(*files, std::filesystem::current_path().string() + "/bits.txt"));
  EXPECT_TRUE(OrdinaryFileExists(*files, std::filesystem::current_path().string() + "/bi*"));
}
#endif

TEST(SharedSteps, AnnounceOverwriteAndAskComment) {
  ScratchDir dir;
  auto files = MakePlatformFileSystem();
  FakeConsole screen(60, 8);
  TextConsole console(screen);
  console.Open();
  AnnounceOverwrite(console, *files);
  EXPECT_EQ(screen.Cursor(), (Position{1, 1}));  // no old file: nothing written
  ScratchDir::Put("OpSymbs.inc", "old");
  AnnounceOverwrite(console, *files);
  EXPECT_EQ(screen.Text(1), "    Overwriting old OpSymbs.inc");
  EXPECT_EQ(screen.Text(2), "");
  screen.Type(U" DL1ABC \r");
  EXPECT_EQ(AskComment(console), " DL1ABC ");
  EXPECT_EQ(screen.Text(3), "Callsign used, or other comments for .INC file   DL1ABC");
  EXPECT_EQ(screen.Cursor(), (Position{6, 1}));  // Enter, then two line ends
}

}  // namespace
}  // namespace op
