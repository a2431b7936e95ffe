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

TEST(WindowsCommandLine, InputNamesAreUnquotedAndRaisedToCapitals) {
  EXPECT_EQ(ChooseInputName("my bits.txt"), "MY BITS.TXT");
  EXPECT_EQ(ChooseInputName("\"my bits-\xC3\xA4.txt\" "), "MY BITS-\xC3\x84.TXT");
  EXPECT_EQ(ChooseInputName(""), "OpBits.txt");
}

// The tail comes from the command line as the system holds it, whatever
// the arguments say; a child is started with a command line of our own.
TEST(WindowsCommandLine, TailIsCutFromTheWholeCommandLine) {
  const std::wstring tailFile = TempFileName();
  testing::EnvironmentOverride environment;
  environment.Set(L"OP_TAIL_FILE", tailFile);
  // As UTF-8 whatever the code page: no Ł turned into L, no ファ into a
  // wildcard; a lone surrogate comes through too.
  const auto run =
      RunTestsInChild(L"CommandLineInChild.*", DETACHED_PROCESS,
                      L"\"C:\\my tools\\opfile.exe\"   \"a  b.txt\"  x\u00E4\u0141\u30D5\xD800 ");
  EXPECT_EQ(run.exitCode, 0u) << run.report;
  EXPECT_EQ(run.TestsRun(), 1) << run.report;
  const std::string tail = ReadWholeFile(tailFile);
  DeleteFileW(tailFile.c_str());
  EXPECT_EQ(tail, "\"a  b.txt\"  x\xC3\xA4\xC5\x81\xE3\x83\x95\xED\xA0\x80 ");
}

TEST(CommandLineInChild, DISABLED_WritesItsCommandTail) {
  char program[] = "ignored", argument[] = "ignored too";
  char* argv[] = {program, argument};
  const std::string tail = CommandTail(2, argv);
  std::ofstream(std::getenv("OP_TAIL_FILE"), std::ios::binary) << tail;
}

}  // namespace
}  // namespace op
