#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "file_system.h"
#include "windows/child_tests.h"

namespace op {
namespace {

using testing::ReadWholeFile;
using testing::UnderWine;

// A fresh folder in the temporary folder, the current directory while the
// test lasts.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    for (unsigned attempt = GetTickCount();; ++attempt) {
      path_ = std::wstring(temp) + L"optest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(attempt);
      if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
    wchar_t previous[MAX_PATH + 1];
    GetCurrentDirectoryW(MAX_PATH + 1, previous);
    previous_ = previous;
    SetCurrentDirectoryW(path_.c_str());
  }
  ~ScratchFolder() {
    SetCurrentDirectoryW(previous_.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  static void Put(const std::wstring& name, const std::string& bytes, DWORD attributes = 0) {
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    if (attributes != 0) SetFileAttributesW(name.c_str(), attributes);
  }

 private:
  std::wstring path_;
  std::wstring previous_;
};

// The system's words, as Windows and as Wine put them.
std::string AccessDenied() { return UnderWine() ? "Access denied" : "Access is denied"; }
std::string NotFound() {
  return UnderWine() ? "File not found" : "The system cannot find the file specified";
}
constexpr char kInUse[] = "in use by another program";

bool Exists(const wchar_t* name) { return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES; }

// The names in the current folder: no temporary file may be left behind.
std::set<std::wstring> Names() {
  std::set<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(L".")) {
    names.insert(entry.path().filename().wstring());
  }
  return names;
}

std::string ReadAll(InputFile& file, std::size_t piece) {
  std::string all;
  std::string error;
  for (;;) {
    std::string buffer(piece, '\0');
    const auto got = file.Read(buffer, error);
    EXPECT_GE(got, 0) << error;
    if (got <= 0) return all;
    all.append(buffer, 0, static_cast<std::size_t>(got));
  }
}

TEST(WindowsFiles, OrdinaryFileExistsMatchesAsTheSystemDoes) {
  ScratchFolder folder;
  ScratchFolder::Put(L"bits.txt", "1");
  ScratchFolder::Put(L"Hidden.dat", "1", FILE_ATTRIBUTE_HIDDEN);
  ScratchFolder::Put(L"System.dat", "1", FILE_ATTRIBUTE_SYSTEM);
  CreateDirectoryW(L"folder", nullptr);
  ScratchFolder::Put(L"folder\\inner.txt", "1");
  auto files = MakePlatformFileSystem();
  // Letter case does not matter, wildcards match, a folder or a drive alone
  // stands for everything in it (the drive's current folder is this one).
  wchar_t current[MAX_PATH + 1];
  GetCurrentDirectoryW(MAX_PATH + 1, current);
  const std::string drive{static_cast<char>(current[0]), ':'};
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
  ScratchFolder folder;
  ScratchFolder::Put(L"b\u00E4ts.txt", "10");
  ScratchFolder::Put(L"\u0141ukasz.txt", "0110");
  ScratchFolder::Put(L"Lukasz.txt", "1");
  auto files = MakePlatformFileSystem();
  EXPECT_TRUE(files->OrdinaryFileExists("b\xC3\xA4ts.txt"));
  std::string error;
  for (const auto& [name, bytes] :
       {std::pair{"B\xC3\x84TS.TXT", "10"}, {"\xC5\x81UKASZ.TXT", "0110"}}) {
    auto input = files->OpenInput(name, error);
    ASSERT_TRUE(input) << error;
    EXPECT_EQ(ReadAll(*input, 16), bytes);
  }
  auto output = files->OpenOutput("\xC3\xBC.inc", error);
  ASSERT_TRUE(output) << error;
  EXPECT_TRUE(output->Commit(error)) << error;
  EXPECT_TRUE(Exists(L"\u00FC.inc"));
}

TEST(WindowsFiles, OutputReplacesTheWholeFileOrNothing) {
  ScratchFolder folder;
  auto files = MakePlatformFileSystem();
  std::string error;
  auto created = files->OpenOutput("OpSymbs.inc", error);
  ASSERT_TRUE(created) << error;
  EXPECT_TRUE(created->Write(";\r\n", error)) << error;
  EXPECT_TRUE(created->Write("", error)) << error;
  EXPECT_TRUE(created->Write(std::string(100000, 'x'), error)) << error;
  EXPECT_TRUE(created->Commit(error)) << error;
  EXPECT_EQ(ReadWholeFile(L"OpSymbs.inc"), ";\r\n" + std::string(100000, 'x'));

  auto replaced = files->OpenOutput("opsymbs.INC", error);
  ASSERT_TRUE(replaced) << error;
  EXPECT_TRUE(replaced->Write("new", error)) << error;
  EXPECT_TRUE(replaced->Commit(error)) << error;
  EXPECT_EQ(ReadWholeFile(L"OpSymbs.inc"), "new");
  EXPECT_EQ(Names(), std::set<std::wstring>{L"OpSymbs.inc"});

  // Dropped unfinished (as after a failed write), it leaves the old file
  // whole and nothing else.
  replaced = files->OpenOutput("OpSymbs.inc", error);
  ASSERT_TRUE(replaced) << error;
  EXPECT_TRUE(replaced->Write("lost", error)) << error;
  replaced.reset();
  EXPECT_EQ(ReadWholeFile(L"OpSymbs.inc"), "new");
  EXPECT_EQ(Names(), std::set<std::wstring>{L"OpSymbs.inc"});
}

TEST(WindowsFiles, AFileHeldElsewhereIsLeftWhole) {
  ScratchFolder folder;
  ScratchFolder::Put(L"OpSymbs.inc", "old");
  auto files = MakePlatformFileSystem();
  std::string error;
  {
    // Another program has it open, sharing it with no one.
    const HANDLE held = CreateFileW(L"OpSymbs.inc", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(files->OpenOutput("OpSymbs.inc", error));
    EXPECT_EQ(error, kInUse);
    CloseHandle(held);
  }
  EXPECT_EQ(ReadWholeFile(L"OpSymbs.inc"), "old");

  // While we write it, no one else opens it, not even for reading.
  auto output = files->OpenOutput("OpSymbs.inc", error);
  ASSERT_TRUE(output) << error;
  const HANDLE reader = CreateFileW(L"OpSymbs.inc", GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  error.clear();
  EXPECT_FALSE(files->OpenInput("OpSymbs.inc", error));
  EXPECT_EQ(error, kInUse);
  EXPECT_FALSE(files->OpenOutput("OpSymbs.inc", error));
  EXPECT_TRUE(output->Commit(error)) << error;
}

// The new file takes the old one's place as it was: a hidden one is
// written over too, and stays hidden.
TEST(WindowsFiles, AHiddenOldFileIsWrittenOver) {
  ScratchFolder folder;
  ScratchFolder::Put(L"OpSymbs.inc", "old and longer", FILE_ATTRIBUTE_HIDDEN);
  auto files = MakePlatformFileSystem();
  std::string error;
  auto output = files->OpenOutput("OpSymbs.inc", error);
  ASSERT_TRUE(output) << error;
  EXPECT_TRUE(output->Write("new", error)) << error;
  EXPECT_TRUE(output->Commit(error)) << error;
  EXPECT_EQ(ReadWholeFile(L"OpSymbs.inc"), "new");
  EXPECT_NE(GetFileAttributesW(L"OpSymbs.inc") & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(WindowsFiles, OutputOntoAFolderFailsWithTheSystemsReason) {
  ScratchFolder folder;
  CreateDirectoryW(L"OpSymbs.inc", nullptr);
  auto files = MakePlatformFileSystem();
  std::string error;
  EXPECT_FALSE(files->OpenOutput("OpSymbs.inc", error));
  EXPECT_EQ(error, AccessDenied());
  EXPECT_FALSE(files->OpenInput("OpSymbs.inc", error));
  EXPECT_EQ(error, AccessDenied());
}

TEST(WindowsFiles, InputReadsInPiecesAndNeverCreates) {
  ScratchFolder folder;
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i * 7));
  ScratchFolder::Put(L"OpBits.txt", bytes);
  auto files = MakePlatformFileSystem();
  std::string error;
  auto input = files->OpenInput("OpBits.txt", error);
  ASSERT_TRUE(input) << error;
  EXPECT_EQ(ReadAll(*input, 4096), bytes);
  // Held while open: OpSymbs.inc could not be written over the input.
  EXPECT_FALSE(files->OpenOutput("OpBits.txt", error));
  EXPECT_EQ(error, kInUse);
  // The same file under any spelling of its name, and no other.
  ScratchFolder::Put(L"other.txt", "");
  EXPECT_TRUE(input->IsSameFileAs("OPBITS.TXT"));
  EXPECT_FALSE(input->IsSameFileAs("other.txt"));
  EXPECT_FALSE(input->IsSameFileAs("missing.txt"));
  input.reset();
  EXPECT_EQ(ReadWholeFile(L"OpBits.txt"), bytes);

  EXPECT_FALSE(files->OpenInput("missing.txt", error));
  EXPECT_EQ(error, NotFound());
  EXPECT_FALSE(Exists(L"missing.txt"));
  // A device is no file of bits, nor a place for OpSymbs.inc.
  for (const char* device : {"CON", "nul"}) {
    EXPECT_FALSE(files->OpenInput(device, error)) << device;
    EXPECT_EQ(error, "not an ordinary file") << device;
  }
  EXPECT_FALSE(files->OpenOutput("NUL", error));
  EXPECT_EQ(error, "not an ordinary file");
}

}  // namespace
}  // namespace op
