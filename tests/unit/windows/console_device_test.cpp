// The Windows console device against a real console. The console tests run
// in a child with a console of its own and no window, so they neither need
// the console the tests were started from nor disturb it; the test of a
// process without any console runs in a detached child.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console_device.h"
#include "windows/child_tests.h"

namespace op {
namespace {

TEST(WindowsConsole, WorksOnAConsoleOfItsOwnAndWithoutOne) {
  EXPECT_EQ(testing::RunTestsInChild(L"ConsoleInChild.*", CREATE_NO_WINDOW), "");
  EXPECT_EQ(testing::RunTestsInChild(L"NoConsoleInChild.*", DETACHED_PROCESS), "");
}

// ---- run in a child with a console ---------------------------------------

DWORD Mode(HANDLE handle) {
  DWORD mode = 0xFFFF;
  GetConsoleMode(handle, &mode);
  return mode;
}

// A screen buffer of 20 by 5 cells stands in as standard output while the
// test lasts; GoogleTest goes on writing to the console's first one.
class ConsoleInChild : public ::testing::Test {
 protected:
  ConsoleInChild() {
    // The window must shrink first: a buffer is never smaller than it.
    const SMALL_RECT window{0, 0, 19, 4};
    SetConsoleWindowInfo(screen, TRUE, &window);
    SetConsoleScreenBufferSize(screen, {20, 5});
    SetStdHandle(STD_OUTPUT_HANDLE, screen);
  }
  ~ConsoleInChild() override {
    device.reset();
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    CloseHandle(screen);
  }

  CONSOLE_SCREEN_BUFFER_INFO Info() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    return info;
  }
  CHAR_INFO CellAt(int row, int column) const {
    CHAR_INFO cell{};
    SMALL_RECT area{SHORT(column - 1), SHORT(row - 1), SHORT(column - 1), SHORT(row - 1)};
    ReadConsoleOutputW(screen, &cell, {1, 1}, {0, 0}, &area);
    return cell;
  }
  // Each row with its trailing blanks cut, and a '|' after it.
  std::wstring Shown() const {
    std::wstring shown;
    for (int row = 1; row <= 5; ++row) {
      std::wstring text;
      for (int column = 1; column <= 20; ++column) text += CellAt(row, column).Char.UnicodeChar;
      shown += text.erase(text.find_last_not_of(L' ') + 1) + L'|';
    }
    return shown;
  }
  void Put(Position at, std::u32string_view text, ColourPair colours = 0x07) {
    std::vector<Cell> cells;
    for (const char32_t c : text) cells.push_back({c, colours});
    device->PutCells(at, cells);
  }

  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  CONSOLE_TEXTMODE_BUFFER, nullptr);
  // The console's input buffer, inherited with write access; the device
  // reads from a handle of its own to the same buffer.
  const HANDLE keyboard = GetStdHandle(STD_INPUT_HANDLE);
  std::unique_ptr<ConsoleDevice> device = MakePlatformConsole();
};

TEST_F(ConsoleInChild, DISABLED_TakesTheModesAndGivesThemBack) {
  const DWORD lineInput = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  SetConsoleMode(screen, ENABLE_PROCESSED_OUTPUT);
  SetConsoleTextAttribute(screen, 0x1F);
  ASSERT_TRUE(SetConsoleMode(keyboard, lineInput));
  device->Open();
  EXPECT_EQ(Mode(screen), DWORD{ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT});
  EXPECT_EQ(Mode(keyboard), 0u);
  EXPECT_EQ(device->Size(), (GridSize{20, 5}));
  device->SetTextColours(0x2E);
  EXPECT_EQ(Info().wAttributes, 0x2E);
  for (const bool visible : {false, true}) {
    device->SetCursorVisible(visible);
    CONSOLE_CURSOR_INFO cursor{};
    GetConsoleCursorInfo(screen, &cursor);
    EXPECT_EQ(cursor.bVisible != FALSE, visible);
    EXPECT_EQ(device->CursorVisible(), visible);
  }
  device->Close();
  EXPECT_EQ(Mode(screen), DWORD{ENABLE_PROCESSED_OUTPUT});
  EXPECT_EQ(Mode(keyboard), lineInput);
  EXPECT_EQ(Info().wAttributes, 0x1F);
}

// Cells go into one row and leave the cursor alone; rows scroll in with the
// colours given; all of it shows before a key is read.
TEST_F(ConsoleInChild, DISABLED_DrawsScrollsAndReadsKeys) {
  const INPUT_RECORD keys[] = {
      {KEY_EVENT, {{TRUE, 1, 'A', 0x1E, {L'a'}, 0}}},
      {KEY_EVENT, {{TRUE, 3, 'B', 0x30, {L'b'}, 0}}},  // held down: three keys
      {KEY_EVENT, {{TRUE, 1, VK_PACKET, 0, {0xD83D}, 0}}},  // a pair: one key
      {KEY_EVENT, {{TRUE, 1, VK_PACKET, 0, {0xDE00}, 0}}},
      {KEY_EVENT, {{TRUE, 1, 'C', 0x2E, {3}, LEFT_CTRL_PRESSED}}},  // a key, not a break
  };
  DWORD written = 0;
  FlushConsoleInputBuffer(keyboard);
  device->Open();
  ASSERT_TRUE(WriteConsoleInputW(keyboard, keys, 5, &written));
  device->SetCursor({2, 3});
  EXPECT_EQ(Info().dwCursorPosition.X, 2);
  EXPECT_EQ(Info().dwCursorPosition.Y, 1);
  // Past the right edge nothing is written, and nothing wraps; a character
  // that needs two UTF-16 units takes one cell, as '?'; a run that starts
  // left of column 1 is dropped.
  Put({2, 18}, U"abcd", 0x1E);
  Put({1, 1}, U"\u20AC\U0001F600\r");
  Put({4, -1}, U"xyz");
  EXPECT_EQ(Shown(), L"\u20AC?\r|                 abc||||");
  EXPECT_EQ(CellAt(2, 20).Attributes, 0x1E);
  EXPECT_EQ(device->Cursor(), (Position{2, 3}));

  // A window's height of rows scrolls in, then one more.
  for (char32_t row = U'A'; row <= U'E'; ++row) {
    device->ScrollUp(0x47);
    Put({5, 1}, std::u32string(1, row), 0x03);
  }
  Put({3, 19}, U"+-*", 0x03);  // into a row that scrolled in, past its edge
  device->ScrollUp(0x47);
  for (const char32_t key : {U'a', U'b', U'b', U'b', U'\U0001F600', char32_t{3}}) {
    EXPECT_EQ(device->NextKey().character, key);
  }
  EXPECT_EQ(Shown(), L"B|C" + std::wstring(17, L' ') + L"+-|D|E||");
  EXPECT_EQ(CellAt(5, 20).Attributes, 0x47);
}

// With standard output redirected it draws on standard error; with both
// redirected, on the console's active screen (CONOUT$) all the same.
TEST_F(ConsoleInChild, DISABLED_DrawsOnTheConsoleWhenOutputIsRedirected) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  const HANDLE nowhere = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, nowhere);
  SetStdHandle(STD_ERROR_HANDLE, screen);
  device->Open();
  Put({3, 2}, U"err");
  device->Close();
  SetStdHandle(STD_ERROR_HANDLE, nowhere);
  SetConsoleActiveScreenBuffer(screen);
  device->Open();
  Put({4, 1}, U"seen");
  device->Close();
  SetStdHandle(STD_ERROR_HANDLE, error);
  CloseHandle(nowhere);
  EXPECT_EQ(Shown(), L"|| err|seen||");
}

// Ctrl+C passes a handler of the test's, registered after the device's
// one, and stops at the device's: the default handler would end the child.
TEST_F(ConsoleInChild, DISABLED_CtrlCDoesNotEndTheProgram) {
  static std::atomic<bool> seen{false};
  const PHANDLER_ROUTINE see = [](DWORD) -> BOOL {
    seen = true;
    return FALSE;
  };
  device->Open();
  SetConsoleCtrlHandler(see, TRUE);
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  for (int wait = 0; wait < 100 && !seen; ++wait) Sleep(50);
  EXPECT_TRUE(seen);
  Sleep(300);  // time for the default handler, had the event gone on to it
  SetConsoleCtrlHandler(see, FALSE);
}

// ---- run in a child without a console ------------------------------------

// Output is dropped, and every key is Enter: questions take the empty answer.
TEST(NoConsoleInChild, DISABLED_DropsOutputAndHasNoKeys) {
  auto device = MakePlatformConsole();
  device->Open();
  EXPECT_EQ(device->NextKey().character, U'\r');
  EXPECT_EQ(device->NextKey().character, U'\r');
  EXPECT_EQ(device->Size(), (GridSize{80, 24}));
  device->SetCursor({3, 4});
  EXPECT_EQ(device->Cursor(), (Position{3, 4}));
  device->SetCursorVisible(false);
  EXPECT_FALSE(device->CursorVisible());
  const Cell dropped[] = {{U'x', 7}};
  device->PutCells({1, 1}, dropped);
  device->ScrollUp(0x07);
}

}  // namespace
}  // namespace op
