#include "command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "windows/child_tests.h"

namespace op {
namespace {

TEST(WindowsCommandLine, InputNamesAreUnquotedAndRaisedToCapitals) {
  EXPECT_EQ(ChooseInputName("my bits.txt"), "MY BITS.TXT");
  EXPECT_EQ(ChooseInputName("\"my bits-\xC3\xA4.txt\" "), "MY BITS-\xC3\x84.TXT");
  EXPECT_EQ(ChooseInputName(""), "OpBits.txt");
}

// The tail comes from the command line as the system holds it, whatever
// the arguments say, and as UTF-8 whatever the code page: no Ł turned into
// L, no ファ into a wildcard; a lone surrogate comes through too.
TEST(WindowsCommandLine, TailIsCutFromTheWholeCommandLine) {
  EXPECT_EQ(testing::RunTestsInChild(
                L"CommandLineInChild.*", DETACHED_PROCESS,
                L"\"C:\\my tools\\opfile.exe\"   \"a  b.txt\"  x\u00E4\u0141\u30D5\xD800 "),
            "");
}

TEST(CommandLineInChild, DISABLED_CutsItsTailFromTheCommandLine) {
  char program[] = "ignored", argument[] = "ignored too";
  char* argv[] = {program, argument};
  EXPECT_EQ(CommandTail(2, argv), "\"a  b.txt\"  x\xC3\xA4\xC5\x81\xE3\x83\x95\xED\xA0\x80 ");
}

}  // namespace
}  // namespace op
