#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_system.h"
#include "scratch_dir.h"

namespace op {
namespace {

using testing::ScratchDir;

constexpr char kInUse[] = "in use by another program";
constexpr char kNotOrdinary[] = "not an ordinary file";

void Put(const wchar_t* name, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  std::ofstream(std::filesystem::path(name), std::ios::binary) << bytes;
  SetFileAttributesW(name, attributes);
}

// The names in the current folder: no temporary file may be left behind.
std::wstring Names() {
  std::wstring names;
  for (const auto& entry : std::filesystem::directory_iterator(L".")) {
    names += entry.path().filename().wstring() + L";";
  }
  return names;
}

std::string ReadAll(InputFile& file) {
  std::string all;
  std::string error;
  for (;;) {
    std::string buffer(4096, '\0');
    const auto got = file.Read(buffer, error);
    EXPECT_GE(got, 0) << error;
    if (got <= 0) return all;
    all.append(buffer, 0, static_cast<std::size_t>(got));
  }
}

TEST(WindowsFiles, OrdinaryFileExistsMatchesAsTheSystemDoes) {
  ScratchDir folder;
  Put(L"bits.txt", "1");
  Put(L"Hidden.dat", "1", FILE_ATTRIBUTE_HIDDEN);
  Put(L"System.dat", "1", FILE_ATTRIBUTE_SYSTEM);
  CreateDirectoryW(L"folder", nullptr);
  Put(L"folder\\inner.txt", "1");
  auto files = MakePlatformFileSystem();
  // Letter case does not matter, wildcards match, a folder or a drive alone
  // stands for everything in it (the drive's current folder is this one).
  const std::string drive{static_cast<char>(std::filesystem::current_path().wstring()[0]), ':'};
  for (const std::string& name :
       std::vector<std::string>{"BITS.TXT", "b?ts.*", "*", "folder\\", "folder/", drive}) {
    EXPECT_TRUE(files->OrdinaryFileExists(name)) << name;
  }
  // Hidden and system files and folders do not count.
  for (const char* name : {"Hidden.dat", "System.dat", "*.dat", "folder", "nothing*", ""}) {
    EXPECT_FALSE(files->OrdinaryFileExists(name)) << name;
  }
}

// Names are UTF-8 whatever the code page, and open the very file named:
// Łukasz.txt, not its look-alike Lukasz.txt.
TEST(WindowsFiles, NamesAreUtf8) {
  ScratchDir folder;
  Put(L"b\u00E4ts.txt", "10");
  Put(L"\u0141ukasz.txt", "0110");
  Put(L"Lukasz.txt", "1");
  auto files = MakePlatformFileSystem();
  EXPECT_TRUE(files->OrdinaryFileExists("b\xC3\xA4ts.txt"));
  std::string error;
  for (const auto& [name, bytes] :
       {std::pair{"B\xC3\x84TS.TXT", "10"}, {"\xC5\x81UKASZ.TXT", "0110"}}) {
    auto input = files->OpenInput(name, error);
    ASSERT_TRUE(input) << error;
    EXPECT_EQ(ReadAll(*input), bytes);
  }
  auto output = files->OpenOutput("\xC3\xBC.inc", error);
  ASSERT_TRUE(output) << error;
  EXPECT_TRUE(output->Commit(error)) << error;
  EXPECT_NE(GetFileAttributesW(L"\u00FC.inc"), INVALID_FILE_ATTRIBUTES);
}

// The new file takes the old one's place as it was, hidden too. Dropped
// unfinished (as after a failed write), it leaves the old file whole and
// nothing else.
TEST(WindowsFiles, OutputReplacesTheWholeFileOrNothing) {
  ScratchDir folder;
  auto files = MakePlatformFileSystem();
  std::string error;
  auto output = files->OpenOutput("OpSymbs.inc", error);
  ASSERT_TRUE(output) << error;
  for (const std::string& bytes : {std::string(";\r\n"), std::string(), std::string(100000, 'x')}) {
    EXPECT_TRUE(output->Write(bytes, error)) << error;
  }
  EXPECT_TRUE(output->Commit(error)) << error;
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), ";\r\n" + std::string(100000, 'x'));
  SetFileAttributesW(L"OpSymbs.inc", FILE_ATTRIBUTE_HIDDEN);
  for (const bool commit : {true, false}) {
    output = files->OpenOutput("opsymbs.INC", error);
    ASSERT_TRUE(output) << error;
    EXPECT_TRUE(output->Write(commit ? "new" : "lost", error)) << error;
    EXPECT_TRUE(!commit || output->Commit(error)) << error;
    output.reset();
    EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "new");
    EXPECT_EQ(Names(), L"OpSymbs.inc;");
  }
  EXPECT_NE(GetFileAttributesW(L"OpSymbs.inc") & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// What is open is held: OpSymbs.inc is not written over the input or over a
// file another program has open, and no one else opens it while it is
// written. A refusal gives its reason, some in the system's words.
TEST(WindowsFiles, OpenFilesAreHeldAndRefusalsSayWhy) {
  ScratchDir folder;
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i * 7));
  Put(L"OpBits.txt", bytes);
  Put(L"other.txt", "");
  Put(L"OpSymbs.inc", "old");
  CreateDirectoryW(L"folder", nullptr);
  auto files = MakePlatformFileSystem();
  std::string error;
  auto input = files->OpenInput("OpBits.txt", error);
  ASSERT_TRUE(input) << error;
  EXPECT_EQ(ReadAll(*input), bytes);
  // The same file under any spelling of its name, and no other.
  EXPECT_TRUE(input->IsSameFileAs("OPBITS.TXT"));
  EXPECT_FALSE(input->IsSameFileAs("other.txt"));
  EXPECT_FALSE(input->IsSameFileAs("missing.txt"));

  // Another program has OpSymbs.inc open, sharing it with no one.
  const HANDLE held = CreateFileW(L"OpSymbs.inc", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const struct {
    bool output;
    const char* name;
    const char* reason;
    const char* windowsReason = nullptr;  // where Windows words it otherwise than Wine
  } refusals[] = {
      {true, "OpSymbs.inc", kInUse},
      {true, "OpBits.txt", kInUse},
      {false, "missing.txt", "File not found", "The system cannot find the file specified"},
      {false, "folder", "Access denied", "Access is denied"},
      {true, "folder", "Access denied", "Access is denied"},
      {false, "b?ts.*", "the name holds a wildcard"},
      {false, "CON", kNotOrdinary},
      {false, "nul", kNotOrdinary},
      {true, "NUL", kNotOrdinary},
  };
  for (const auto& [output, name, reason, windowsReason] : refusals) {
    std::string why;
    EXPECT_FALSE(output ? files->OpenOutput(name, why) != nullptr
                        : files->OpenInput(name, why) != nullptr)
        << name;
    EXPECT_TRUE(why == reason || (windowsReason && why == windowsReason)) << name << ": " << why;
  }
  CloseHandle(held);
  EXPECT_FALSE(std::filesystem::exists("missing.txt"));

  auto output = files->OpenOutput("OpSymbs.inc", error);
  ASSERT_TRUE(output) << error;
  const HANDLE reader = CreateFileW(L"OpSymbs.inc", GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  output.reset();
  input.reset();
  EXPECT_EQ(ScratchDir::Get("OpSymbs.inc"), "old");
  EXPECT_EQ(ScratchDir::Get("OpBits.txt"), bytes);
}

}  // namespace
}  // namespace op
