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
#include "text_console.h"
#include "windows/child_tests.h"
#include "windows/key_record.h"

namespace op {
namespace {

using testing::RunTestsInChild;
using op::testing::Key;
using Kind = KeyEvent::Kind;

void ExpectChildPassed(const testing::ChildRun& run) {
  EXPECT_EQ(run.exitCode, 0u) << run.report;
  EXPECT_GT(run.TestsRun(), 0) << run.report;
  EXPECT_NE(run.report.find("failures=\"0\""), std::string::npos) << run.report;
}

TEST(WindowsConsole, WorksOnAConsoleOfItsOwn) {
  ExpectChildPassed(RunTestsInChild(L"ConsoleInChild.*", CREATE_NO_WINDOW));
}

TEST(WindowsConsole, WithoutAConsoleDropsOutputAndHasNoKeys) {
  ExpectChildPassed(RunTestsInChild(L"NoConsoleInChild.*", DETACHED_PROCESS));
}

// ---- run in a child with a console ---------------------------------------

// A small screen buffer of the child's console, standing in as standard
// output (or error) while the test lasts.
class SmallScreen {
 public:
  SmallScreen(short width, short height, DWORD stream = STD_OUTPUT_HANDLE) : stream_(stream) {
    buffer_ = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CONSOLE_TEXTMODE_BUFFER, nullptr);
    // The window must shrink first: a buffer is never smaller than it.
    const SMALL_RECT window{0, 0, static_cast<SHORT>(width - 1), static_cast<SHORT>(height - 1)};
    SetConsoleWindowInfo(buffer_, TRUE, &window);
    SetConsoleScreenBufferSize(buffer_, COORD{width, height});
    saved_ = GetStdHandle(stream_);
    SetStdHandle(stream_, buffer_);
  }
  ~SmallScreen() {
    SetStdHandle(stream_, saved_);
    CloseHandle(buffer_);
  }
  HANDLE Handle() const { return buffer_; }

  CONSOLE_SCREEN_BUFFER_INFO Info() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(buffer_, &info);
    return info;
  }
  std::vector<CHAR_INFO> Cells(int row) const {
    const SHORT width = Info().dwSize.X;
    std::vector<CHAR_INFO> cells(static_cast<std::size_t>(width));
    SMALL_RECT area{0, static_cast<SHORT>(row - 1), static_cast<SHORT>(width - 1),
                    static_cast<SHORT>(row - 1)};
    ReadConsoleOutputW(buffer_, cells.data(), COORD{width, 1}, COORD{0, 0}, &area);
    return cells;
  }
  // Row `row` (from 1) with trailing blanks cut.
  std::wstring Text(int row) const {
    std::wstring text;
    for (const CHAR_INFO& cell : Cells(row)) text.push_back(cell.Char.UnicodeChar);
    text.erase(text.find_last_not_of(L' ') + 1);
    return text;
  }
  WORD Attributes(int row, int column) const {
    return Cells(row)[static_cast<std::size_t>(column - 1)].Attributes;
  }

 private:
  DWORD stream_;
  HANDLE buffer_;
  HANDLE saved_;
};

std::vector<Cell> CellsOf(std::u32string_view text, ColourPair colours) {
  std::vector<Cell> cells;
  for (const char32_t c : text) cells.push_back({c, colours});
  return cells;
}

DWORD Mode(HANDLE handle) {
  DWORD mode = 0xFFFF;
  GetConsoleMode(handle, &mode);
  return mode;
}

// The console's input buffer, as this process inherited it with write
// access; the device reads from its own handle to the same buffer.
HANDLE InputBuffer() { return GetStdHandle(STD_INPUT_HANDLE); }

TEST(ConsoleInChild, DISABLED_TakesTheModesAndGivesThemBack) {
  SmallScreen screen(20, 5);
  SetConsoleMode(screen.Handle(), ENABLE_PROCESSED_OUTPUT);
  SetConsoleTextAttribute(screen.Handle(), 0x1F);
  ASSERT_TRUE(SetConsoleMode(InputBuffer(),
                             ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  auto device = MakePlatformConsole();
  device->Open();
  EXPECT_EQ(Mode(screen.Handle()), DWORD{ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT});
  EXPECT_EQ(Mode(InputBuffer()), 0u);
  EXPECT_EQ(device->Size(), (GridSize{20, 5}));
  device->SetTextColours(0x2E);
  EXPECT_EQ(screen.Info().wAttributes, 0x2E);
  device->Close();
  EXPECT_EQ(Mode(screen.Handle()), DWORD{ENABLE_PROCESSED_OUTPUT});
  EXPECT_EQ(Mode(InputBuffer()),
            DWORD{ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT});
  EXPECT_EQ(screen.Info().wAttributes, 0x1F);
}

TEST(ConsoleInChild, DISABLED_PutsCellsInOneRowAndLeavesTheCursor) {
  SmallScreen screen(20, 5);
  auto device = MakePlatformConsole();
  device->Open();
  device->SetCursor({2, 3});
  EXPECT_EQ(screen.Info().dwCursorPosition.X, 2);
  EXPECT_EQ(screen.Info().dwCursorPosition.Y, 1);
  EXPECT_EQ(device->Cursor(), (Position{2, 3}));

  // Past the right edge nothing is written, and nothing wraps.
  device->PutCells({2, 18}, CellsOf(U"abcd", 0x1E));
  EXPECT_EQ(screen.Text(2), std::wstring(17, L' ') + L"abc");
  EXPECT_EQ(screen.Attributes(2, 18), 0x1E);
  EXPECT_EQ(screen.Attributes(2, 20), 0x1E);
  EXPECT_EQ(screen.Text(3), L"");
  EXPECT_EQ(device->Cursor(), (Position{2, 3}));

  // A character that needs two UTF-16 units takes one cell, as '?'.
  device->PutCells({1, 1}, CellsOf(U"\u20AC\U0001F600\r", 0x07));
  EXPECT_EQ(screen.Text(1), L"\u20AC?\r");
  // Cells left of column 1 are dropped.
  device->PutCells({4, -1}, CellsOf(U"xyz", 0x07));
  EXPECT_EQ(screen.Text(4), L"z");
  device->Close();
}

TEST(ConsoleInChild, DISABLED_ScrollUpMovesRowsAndBlanksTheBottomRow) {
  SmallScreen screen(20, 5);
  auto device = MakePlatformConsole();
  device->Open();
  for (int row = 1; row <= 11; ++row) {
    if (row > 5) device->ScrollUp(0x47);  // A to E fill the screen, F to K scroll in
    device->PutCells({row > 5 ? 5 : row, 1}, CellsOf(std::u32string(1, U'@' + row), 0x03));
  }
  device->PutCells({3, 2}, CellsOf(U"+", 0x03));  // into a row that scrolled in
  device->ScrollUp(0x47);
  device->Close();
  std::wstring shown;
  for (int row = 1; row <= 5; ++row) shown += screen.Text(row) + L"|";
  EXPECT_EQ(shown, L"H|I+|J|K||");
  EXPECT_EQ(screen.Attributes(5, 20), 0x47);
}

TEST(ConsoleInChild, DISABLED_CursorVisibility) {
  SmallScreen screen(20, 5);
  auto device = MakePlatformConsole();
  device->Open();
  device->SetCursorVisible(false);
  CONSOLE_CURSOR_INFO info{};
  GetConsoleCursorInfo(screen.Handle(), &info);
  EXPECT_FALSE(info.bVisible);
  EXPECT_FALSE(device->CursorVisible());
  device->SetCursorVisible(true);
  GetConsoleCursorInfo(screen.Handle(), &info);
  EXPECT_TRUE(info.bVisible);
  EXPECT_TRUE(device->CursorVisible());
  device->Close();
}

// With standard output redirected it draws on standard error; with both
// redirected, on the console's screen (CONOUT$) all the same.
TEST(ConsoleInChild, DISABLED_DrawsOnTheConsoleWhenOutputIsRedirected) {
  SmallScreen screen(20, 5, STD_ERROR_HANDLE);
  const HANDLE nowhere = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, nowhere);
  auto device = MakePlatformConsole();
  device->Open();
  device->PutCells({3, 2}, CellsOf(U"err", 0x07));
  EXPECT_EQ(device->Size(), (GridSize{20, 5}));
  device->Close();
  EXPECT_EQ(screen.Text(3), L" err");

  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, nowhere);
  SetConsoleActiveScreenBuffer(screen.Handle());
  device->Open();
  device->PutCells({4, 1}, CellsOf(U"seen", 0x07));
  device->Close();
  SetStdHandle(STD_ERROR_HANDLE, error);
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  CloseHandle(nowhere);
  EXPECT_EQ(screen.Text(4), L"seen");
}

TEST(ConsoleInChild, DISABLED_ReadsKeysFromTheConsoleInput) {
  SmallScreen screen(20, 5);
  FlushConsoleInputBuffer(InputBuffer());
  auto device = MakePlatformConsole();
  device->Open();
  INPUT_RECORD focus{};
  focus.EventType = FOCUS_EVENT;
  const std::vector<INPUT_RECORD> records = {
      Key(true, 'A', 0x1E, L'a'),
      Key(false, 'A', 0x1E, L'a'),
      Key(true, VK_SHIFT, 0x2A, 0),
      Key(true, VK_LEFT, 0x4B, 0),
      Key(true, 'B', 0x30, L'b', 0, 3),
      Key(true, VK_PACKET, 0, 0xD83D),
      Key(true, VK_PACKET, 0, 0xDE00),
      focus,
      Key(true, 'Q', 0x10, L'q', LEFT_ALT_PRESSED),
      Key(true, 'C', 0x2E, 3, LEFT_CTRL_PRESSED),
  };
  DWORD written = 0;
  ASSERT_TRUE(WriteConsoleInputW(InputBuffer(), records.data(),
                                 static_cast<DWORD>(records.size()), &written));
  ASSERT_EQ(written, records.size());

  auto expect = [&](Kind kind, char32_t character = 0, bool altLetter = false) {
    const KeyEvent key = device->NextKey();
    EXPECT_EQ(key.kind, kind);
    EXPECT_EQ(key.character, character);
    EXPECT_EQ(key.altLetter, altLetter);
  };
  device->ScrollUp(0x47);
  expect(Kind::Character, U'a');
  EXPECT_EQ(screen.Attributes(5, 1), 0x47);  // what scrolled in shows before a key is read
  expect(Kind::Other);  // the release
  expect(Kind::Other);  // Shift alone
  expect(Kind::Special);
  for (int i = 0; i < 3; ++i) expect(Kind::Character, U'b');
  expect(Kind::Character, U'\U0001F600');
  expect(Kind::Other);  // the focus event
  expect(Kind::Character, U'q', true);
  expect(Kind::Character, 3);  // Ctrl+C is a key, not a break
  device->Close();
}

std::atomic<bool> gControlSeen{false};

// Registered after the device's own handler, so called before it; passes
// the event on.
BOOL WINAPI SeeControlEvent(DWORD) {
  gControlSeen = true;
  return FALSE;
}

TEST(ConsoleInChild, DISABLED_CtrlCDoesNotEndTheProgram) {
  SmallScreen screen(20, 5);
  auto device = MakePlatformConsole();
  device->Open();
  SetConsoleCtrlHandler(SeeControlEvent, TRUE);
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  for (int wait = 0; wait < 100 && !gControlSeen; ++wait) Sleep(50);
  EXPECT_TRUE(gControlSeen);
  // Had the device's handler passed it on too, the default one would have
  // ended this process by now.
  Sleep(300);
  SetConsoleCtrlHandler(SeeControlEvent, FALSE);
  device->Close();
}

// ---- run in a child without a console ------------------------------------

TEST(NoConsoleInChild, DISABLED_DropsOutputAndHasNoKeys) {
  auto device = MakePlatformConsole();
  device->Open();
  for (int i = 0; i < 2; ++i) {  // every key is Enter: questions take the empty answer
    const KeyEvent key = device->NextKey();
    EXPECT_EQ(key.kind, Kind::Character);
    EXPECT_EQ(key.character, U'\r');
  }
  EXPECT_EQ(device->Size(), (GridSize{80, 24}));
  device->SetCursor({3, 4});
  EXPECT_EQ(device->Cursor(), (Position{3, 4}));
  device->SetCursorVisible(false);
  EXPECT_FALSE(device->CursorVisible());
  device->PutCells({1, 1}, CellsOf(U"dropped", 0x07));
  device->ScrollUp(0x07);
  device->Close();

  // A question gets the empty answer at once, and the final key wait ends.
  TextConsole console(*device);
  console.Open();
  console.Write("Question ");
  EXPECT_EQ(console.ReadLine(), "");
  console.WaitKey();
  console.Close();
}

}  // namespace
}  // namespace op
