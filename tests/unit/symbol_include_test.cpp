#include "symbol_include.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "fake_console.h"
#include "scratch_dir.h"

namespace op {
namespace {

using testing::FakeConsole;
using testing::FaultyFiles;
using testing::ScratchDir;

constexpr const char* kPrefix = "        de   b'";

struct Conversion {
  FakeConsole screen;
  TextConsole console{screen};
  bool written = false;

  Conversion(EchoLayout layout, std::string_view comment, std::string_view stream, int width = 40,
             FileSystem&& files = FaultyFiles())
      : screen(width, 30) {
    console.Open();
    SymbolIncludeWriter writer(console, files, layout);
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

// The names in the directory besides `keep`: what a run left behind.
std::vector<std::string> Leftovers(const std::string& keep = "OpSymbs.inc") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    if (entry.path().filename() != keep) names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(SymbolIncludeWriter, ReplacesTheOldFileWholeKeepingItsModeAndLink) {
  ScratchDir dir;
  ScratchDir::Put("OpSymbs.inc", std::string(5000, 'x'));
  Conversion(EchoLayout::GroupPerLine, "", "1");
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";\r\n\r\n" + Data("10000000"));
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
#ifndef _WIN32
  // A temporary file a killed run left is neither used nor removed.
  ScratchDir::Put(".OpSymbs.inc.Ab12Cd", "killed");
  // The link stays a link; the file it points to is replaced, its mode kept.
  std::filesystem::create_directory("real");
  std::filesystem::rename("OpSymbs.inc", "real/beacon.inc");
  ::chmod("real/beacon.inc", 0640);
  std::filesystem::create_symlink("real/beacon.inc", "OpSymbs.inc");
  Conversion(EchoLayout::GroupPerLine, "", "0");
  EXPECT_TRUE(std::filesystem::is_symlink("OpSymbs.inc"));
  EXPECT_EQ(ScratchDir::Get("real/beacon.inc"), ";\r\n\r\n" + Data("00000000"));
  struct stat info {};
  ::stat("real/beacon.inc", &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(ScratchDir::Get(".OpSymbs.inc.Ab12Cd"), "killed");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("real"), {}), 1);
  // A new file takes the usual mode, not the temporary file's own.
  std::filesystem::remove("OpSymbs.inc");
  const mode_t mask = ::umask(027);
  Conversion(EchoLayout::GroupPerLine, "", "0");
  ::umask(mask);
  ::stat("OpSymbs.inc", &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
#endif
}

TEST(SymbolIncludeWriter, EchoLayoutsAndSummary) {
  struct Case {
    EchoLayout layout;
    int width;
    std::string stream;
    std::vector<std::string> rows;
  };
  const std::string g = "     11111111";
  const std::string written = "OpSymbs.inc Written";
  const std::vector<Case> cases = {
      // A row of its own for each group, padding zeros after the last bit.
      {EchoLayout::GroupPerLine, 40, "1011001110", {"", "     10110011", "     10000000", "", written, " 10 Bits"}},
      // 40 columns: the fourth group's indent wraps after its first space.
      {EchoLayout::RowsOf32, 40, std::string(33, '1'),
       {"", g + g + g, "    11111111", "     10000000", "", written, " 33 Bits"}},
      // A row cut short of 32 bits is followed by one empty row, no more.
      {EchoLayout::RowsOf32, 80, std::string(25, '1'), {"", g + g + g + "     10000000", "", written, " 25 Bits"}},
      {EchoLayout::RowsOf32, 80, std::string(32, '1'), {"", g + g + g + g, "", "", written, " 32 Bits"}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    Conversion run(c.layout, "", c.stream, c.width);
    EXPECT_EQ(run.screen.RowsAboveCursor(), c.rows) << c.stream.size();
    const int summary = static_cast<int>(c.rows.size());
    EXPECT_EQ(run.screen.At(2, 6).colours, c.layout == EchoLayout::GroupPerLine ? 3 : 7);
    EXPECT_EQ(run.screen.At(summary, 2).colours, 7);
  }
  ScratchDir dir;  // counts past sixteen bits
  Conversion run(EchoLayout::RowsOf32, "", std::string(40000, '0') + "1");
  EXPECT_EQ(std::filesystem::file_size("OpSymbs.inc"), 3 + 2 + 5001u * 26);
  EXPECT_EQ(run.screen.Text(run.screen.Cursor().row - 1), " 40001 Bits");
}

TEST(SymbolIncludeWriter, NeverReportsAFailedWriteAsWrittenAndKeepsTheOldFile) {
  const std::string old = ";old\r\n\r\n'\r\n";
  const std::string bits(3000 * 8, '1');  // more than one write
  struct Case {
    const char* what;
    std::function<void(FaultyFiles&)> make;
    std::string reason;  // empty: the system's own words, whatever they are
  };
  const std::vector<Case> cases = {
      {"a directory", [](FaultyFiles&) { std::filesystem::create_directory("OpSymbs.inc"); },
#ifdef _WIN32
       ""},
#else
       "Is a directory"},
      {"a link to a device", [](FaultyFiles&) { ::symlink("/dev/full", "OpSymbs.inc"); },
       "not an ordinary file"},
      {"a pipe", [](FaultyFiles&) { ::mkfifo("OpSymbs.inc", 0600); }, "not an ordinary file"},
      {"a link into a missing directory",
       [](FaultyFiles&) { ::symlink("no-such-dir/OpSymbs.inc", "OpSymbs.inc"); },
       "No such file or directory"},
      {"held by another program",
       [&](FaultyFiles&) {
         ScratchDir::Put("OpSymbs.inc", old);
         ::flock(::open("OpSymbs.inc", O_RDONLY | O_CLOEXEC), LOCK_EX);  // closed with the directory
       },
       "in use by another program"},
#endif
      {"a full disk", [&](FaultyFiles& files) { ScratchDir::Put("OpSymbs.inc", old), files.diskRoom = 70000; },
       "No space left on device"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    FaultyFiles files;
    c.make(files);
    Conversion run(EchoLayout::GroupPerLine, "", bits, 80, std::move(files));
    EXPECT_FALSE(run.written) << c.what;
    const std::string report = run.screen.Text(run.screen.Cursor().row - 2);
    EXPECT_EQ(report.substr(0, 25), "OpSymbs.inc NOT written: ") << c.what;
    if (!c.reason.empty()) {
      EXPECT_EQ(report.substr(25), c.reason) << c.what;
    }
    EXPECT_GT(report.size(), 25u) << c.what;
    EXPECT_EQ(run.screen.Text(run.screen.Cursor().row - 1), " 24000 Bits") << c.what;
    if (std::filesystem::is_regular_file("OpSymbs.inc")) {
      EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), old) << c.what;
    }
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << c.what;
  }
}

#ifndef _WIN32  // symbolic links, pipes and dot names are POSIX matters
TEST(SharedSteps, OrdinaryFileExistsCountsOnlyOrdinaryFiles) {
  ScratchDir dir;
  auto files = MakePlatformFileSystem();
  ScratchDir::Put("bits.txt", "1");
  ScratchDir::Put(".hidden", "1");
  ScratchDir::Put("bits?*.txt", "1");  // wildcards are plain characters of a name here
  std::filesystem::create_directory("folder.txt");
  ::symlink("bits.txt", "link.txt");
  ::symlink("missing", "dangling.txt");
  ::mkfifo("pipe.txt", 0600);
  for (const char* name : {"bits.txt", "link.txt", ".hidden", "bits?*.txt"}) {
    EXPECT_TRUE(files->OrdinaryFileExists(name)) << name;
  }
  for (const char* name : {"b?ts.txt", "*", "BITS.TXT", "folder.txt", "dangling.txt", "pipe.txt", ""}) {
    EXPECT_FALSE(files->OrdinaryFileExists(name)) << name;
  }
  EXPECT_TRUE(files->OrdinaryFileExists(std::filesystem::current_path().string() + "/bits.txt"));
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
