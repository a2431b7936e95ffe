#include "command_line.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "windows/child_tests.h"

namespace op {
namespace {

using testing::ReadWholeFile;
using testing::RunTestsInChild;
using testing::TempFileName;

TEST(WindowsCommandLine, InputNamesAreRaisedToCapitals) {
  EXPECT_EQ(PlatformInputName("bits-09.txt"), "BITS-09.TXT");
  EXPECT_EQ(ChooseInputName("my bits.txt"), "MY BITS.TXT");
  EXPECT_EQ(ChooseInputName(""), "OpBits.txt");
  // The accented letters are those of code page 437, raised only there.
  EXPECT_EQ(PlatformInputName("\x84"), GetACP() == 437 ? "\x8E" : "\x84");
}

// The tail comes from the command line as the system holds it, whatever
// the arguments say; a child is started with a command line of our own.
TEST(WindowsCommandLine, TailIsCutFromTheWholeCommandLine) {
  const std::wstring tailFile = TempFileName();
  testing::EnvironmentOverride environment;
  environment.Set(L"OP_TAIL_FILE", tailFile);
  const auto run = RunTestsInChild(L"CommandLineInChild.*", DETACHED_PROCESS,
                                   L"\"C:\\my tools\\opfile.exe\"   \"a  b.txt\"  x\u00E4 ");
  EXPECT_EQ(run.exitCode, 0u) << run.report;
  EXPECT_EQ(run.TestsRun(), 1) << run.report;
  const std::string tail = ReadWholeFile(tailFile);
  DeleteFileW(tailFile.c_str());
  if (GetACP() == 1252) {
    EXPECT_EQ(tail, "\"a  b.txt\"  x\xE4 ");
  } else {
    EXPECT_EQ(tail.substr(0, 13), "\"a  b.txt\"  x");
  }
}

TEST(CommandLineInChild, DISABLED_WritesItsCommandTail) {
  char program[] = "ignored", argument[] = "ignored too";
  char* argv[] = {program, argument};
  const std::string tail = CommandTail(2, argv);
  std::ofstream(std::getenv("OP_TAIL_FILE"), std::ios::binary) << tail;
}

}  // namespace
}  // namespace op
