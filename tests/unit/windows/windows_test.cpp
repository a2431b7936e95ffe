#include <windows.h>

#include <filesystem>
#include <fstream>
#include <future>

#include <gtest/gtest.h>

#include "clipboard.h"
#include "code_page.h"
#include "command_line.h"
#include "console_device.h"
#include "file_system.h"

namespace op {
namespace {

TEST(Windows, InAChildWithAConsoleCommandLineAndFolderOfItsOwn) {
  const auto folder = std::filesystem::temp_directory_path() / "opwin";  // kept till the next run
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(folder);
  wchar_t self[MAX_PATH], line[] = L"\"C:\\my tools\\op.exe\"   \"a  b.txt\"  x\u0141\xD800 "
      L"--gtest_filter=Child.* --gtest_also_run_disabled_tests --gtest_output=xml:report.xml";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(self, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                             folder.c_str(), &startup, &child));
  DWORD code = WaitForSingleObject(child.hProcess, 30000);
  GetExitCodeProcess(child.hProcess, &code);
  TerminateProcess(child.hProcess, 1);
  EXPECT_EQ(code, 42u) << "see " << folder / "report.xml";  // 42: the child passed
}

TEST(Child, DISABLED_Run) {
  // Screen 20 by 5: rows written, scrolled in, cut at the edge; keys; modes and colours kept.
  const auto mode = [](HANDLE handle) { DWORD got = 0; return GetConsoleMode(handle, &got), got; };
  const HANDLE keyboard = GetStdHandle(STD_INPUT_HANDLE), screen = GetStdHandle(STD_OUTPUT_HANDLE);
  SMALL_RECT window{0, 0, 19, 4};
  SetConsoleWindowInfo(screen, TRUE, &window);  // a buffer is never smaller than its window
  SetConsoleScreenBufferSize(screen, {20, 5});
  SetConsoleMode(screen, ENABLE_PROCESSED_OUTPUT);
  SetConsoleMode(keyboard, 7);  // line input with echo and Ctrl+C
  auto device = MakePlatformConsole();
  device->Open();
  const INPUT_RECORD keys[] = {{KEY_EVENT, {{1, 1, VK_ESCAPE, 1, {0}, 0}}},
      {KEY_EVENT, {{1, 2, 'B', 0x30, {L'b'}, 0}}}, {KEY_EVENT, {{1, 1, 0, 0, {0xD83D}, 0}}},
      {KEY_EVENT, {{1, 1, 0, 0, {0xDE00}, 0}}}, {KEY_EVENT, {{1, 1, 0, 0x28, {L'l'}, 2}}},  // Alt
      {KEY_EVENT, {{1, 1, 0, 0x10, {L'q'}, 9}}}, {KEY_EVENT, {{1, 1, 0, 0x2E, {3}, 0}}}};  // AltGr
  DWORD count = 0;
  WriteConsoleInputW(keyboard, keys, std::size(keys), &count);
  static const HANDLE seen = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler([](DWORD) -> BOOL { return !SetEvent(seen); }, TRUE);  // called first
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);  // passed on, it would end the child long before 42
  EXPECT_EQ(WaitForSingleObject(seen, 10000), WAIT_OBJECT_0);
  device->SetTextColours(0x2E);
  const Cell cells[] = {{U'A', 0x03}, {U'+', 0x03}, {U'-', 0x03}, {U'*', 0x03}};
  device->PutCells({3, 1}, {cells, 1});
  for (int row = 0; row < 2; ++row) device->ScrollUp(0x47);
  device->PutCells({4, 19}, {cells + 1, 3});
  device->SetCursor({2, 3});
  std::u32string got;
  for (KeyEvent key; (key = device->NextKey()).character != 3;)
    got += std::u32string(key.altLetter, U'^') + key.character;  // '^': Alt on a letter row
  EXPECT_EQ(got, U"\x1b" U"bb\U0001F600^l^q");
  device->Close();
  WriteConsoleW(screen, L"x", 1, &count, nullptr);  // at the cursor, in the colours found
  CHAR_INFO out[100];
  ReadConsoleOutputW(screen, out, {20, 5}, {0, 0}, &window);
  std::wstring text;  // cells, each with its colours, then the modes of screen and keyboard
  for (const int i : {0, 22, 78, 79, 80, 99}) text += {out[i].Char.UnicodeChar, out[i].Attributes};
  text += {wchar_t(mode(screen)), wchar_t(mode(keyboard))};
  EXPECT_EQ(text, L"A\x03" L"x\x07" L"+\x03" L"-\x03" L" \x47" L" \x47" L"\x01\x07");
  FreeConsole();
  device->Open();
  EXPECT_EQ(device->NextKey().character, U'\r');
  EXPECT_EQ(CommandTail(0, nullptr).substr(0, 19), "\"a  b.txt\"  x\xC5\x81\xED\xA0\x80 ");
  EXPECT_TRUE(GetACP() != 1252 || ToCodePage(U"\u0141\U0001F600\u20AC") == "??\x80");  // Ł is no L

  // Files: held while open; the old one replaced whole, hidden as it was, or kept whole.
  std::ofstream("OpBits.txt") << "1";
  std::ofstream("OpSymbs.inc") << "old";
  SetFileAttributesA("OpSymbs.inc", FILE_ATTRIBUTE_HIDDEN);
  const auto content = [] { std::string got; std::ifstream("OpSymbs.inc") >> got; return got; };
  auto files = MakePlatformFileSystem();
  std::string why;
  auto input = files->OpenInput("opbits.TXT", why);
  EXPECT_TRUE(input && input->IsSameFileAs("OpBits.txt") && !input->IsSameFileAs("OpSymbs.inc"));
  for (const auto& [name, reason] : {std::pair{"OpBits.txt", "in use by another program"},
       {"CON", "not an ordinary file"}, {"b?ts.*", "the name holds a wildcard"}})
    EXPECT_TRUE(!files->OpenInput(name, why) && why == reason) << name << ": " << why;
  for (const std::string bytes : {"lost", "new"}) {
    auto output = files->OpenOutput("opsymbs.INC", why);
    EXPECT_FALSE(std::ifstream("OpSymbs.inc")) << "open to others while written";
    ASSERT_TRUE(output && output->Write(bytes, why) && (bytes == "lost" || output->Commit(why)));
    output.reset();
    EXPECT_EQ(content(), bytes == "lost" ? "old" : bytes) << why;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2);  // no temporary
  }
  EXPECT_TRUE(files->OrdinaryFileExists(".\\") && !files->OrdinaryFileExists("*.inc"));  // hidden

  // The clipboard's text ends at its first zero; held for a moment it is read, throughout not.
  const wchar_t zero[] = L"10\0" L"11";
  for (const auto& [size, held, read] : {std::tuple{sizeof zero, 50, "10|"}, {0u, 0, "|"},
        {sizeof zero, 1000, "|Clipboard not read: in use by another program"}}) {
    ASSERT_TRUE(OpenClipboard(GetDesktopWindow()) && EmptyClipboard());  // as another program would
    if (size) SetClipboardData(CF_UNICODETEXT, memcpy(GlobalAlloc(GMEM_FIXED, size), zero, size));
    auto reader = std::async(std::launch::async, ReadClipboardText);
    Sleep(held);
    CloseClipboard();
    const ClipboardText clipboard = reader.get();
    EXPECT_EQ(clipboard.text + "|" + clipboard.failure, read) << held;
  }
  if (!HasFailure()) ExitProcess(42);
}

}  // namespace
}  // namespace op
