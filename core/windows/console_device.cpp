// The console on Windows: cells written straight into the console's screen
// buffer, keys read as input records from CONIN$, so neither depends on
// where standard input and output are redirected.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "../console_device.h"
#include "key_records.h"

namespace op {
namespace {

constexpr DWORD kOutputMode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
constexpr DWORD kCursorSize = 10;  // percent of a cell, the usual underline

// Ctrl+C and Ctrl+Break are claimed: the program is never interrupted. A
// closing console ends it by the default handler.
BOOL WINAPI OnControlEvent(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// Under Wine only a handle with write access may change the keyboard's
// mode, yet a CONIN$ opened for writing delivers no keys. The mode belongs
// to the console's input buffer, not to a handle, so a refused change is
// made through a second, writable handle.
bool SetKeyboardMode(HANDLE keyboard, DWORD mode) {
  if (SetConsoleMode(keyboard, mode)) return true;
  const HANDLE writable = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
  if (writable == INVALID_HANDLE_VALUE) return false;
  const bool changed = SetConsoleMode(writable, mode) != FALSE;
  CloseHandle(writable);
  return changed;
}

bool IsConsole(HANDLE handle, DWORD& mode) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

class WindowsConsole final : public ConsoleDevice {
 public:
  ~WindowsConsole() override { Close(); }

  void Open() override {
    if (open_) return;
    open_ = true;
    OpenScreen();
    OpenKeyboard();
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
  }

  void Close() override {
    if (!open_) return;
    open_ = false;
    SetConsoleCtrlHandler(OnControlEvent, FALSE);
    if (keyboard_ != INVALID_HANDLE_VALUE) {
      if (keyboardModeSaved_) SetKeyboardMode(keyboard_, keyboardMode_);
      CloseHandle(keyboard_);
      keyboard_ = INVALID_HANDLE_VALUE;
    }
    if (screen_ != nullptr) {
      // What others write after us appears as it did before we ran.
      SetConsoleTextAttribute(screen_, screenAttributes_);
      if (cursorInfoSaved_ && cursorInfo_.dwSize != 0) SetConsoleCursorInfo(screen_, &cursorInfo_);
      SetConsoleMode(screen_, screenMode_);
      screen_ = nullptr;
    }
    if (ownScreen_ != INVALID_HANDLE_VALUE) {
      CloseHandle(ownScreen_);
      ownScreen_ = INVALID_HANDLE_VALUE;
    }
  }

  GridSize Size() override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Look(info)) return {};
    return {info.dwSize.X, info.dwSize.Y};
  }

  Position Cursor() override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Look(info)) return cursor_;
    return {info.dwCursorPosition.Y + 1, info.dwCursorPosition.X + 1};
  }

  void SetCursor(Position at) override {
    cursor_ = at;
    if (screen_ == nullptr) return;
    SetConsoleCursorPosition(screen_, Coordinates(at));
  }

  void PutCells(Position at, std::span<const Cell> cells) override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Look(info)) return;
    const int width = info.dwSize.X;
    if (at.row < 1 || at.row > info.dwSize.Y || at.column > width) return;
    if (at.column < 1) {
      const auto hidden = static_cast<std::size_t>(1 - at.column);
      if (hidden >= cells.size()) return;
      cells = cells.subspan(hidden);
      at.column = 1;
    }
    cells = cells.first(std::min(cells.size(), static_cast<std::size_t>(width - at.column + 1)));
    if (cells.empty()) return;
    run_.clear();
    for (const Cell& cell : cells) {
      CHAR_INFO out{};
      // One cell holds one UTF-16 unit: what needs two cannot be shown.
      const bool fits = cell.character < 0xD800 ||
                        (cell.character >= 0xE000 && cell.character <= 0xFFFF);
      out.Char.UnicodeChar = fits ? static_cast<wchar_t>(cell.character) : L'?';
      out.Attributes = cell.colours;
      run_.push_back(out);
    }
    const auto count = static_cast<SHORT>(run_.size());
    SMALL_RECT area{static_cast<SHORT>(at.column - 1), static_cast<SHORT>(at.row - 1),
                    static_cast<SHORT>(at.column - 1 + count - 1), static_cast<SHORT>(at.row - 1)};
    WriteConsoleOutputW(screen_, run_.data(), COORD{count, 1}, COORD{0, 0}, &area);
  }

  void ScrollUp(ColourPair blank) override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Look(info)) return;
    CHAR_INFO fill{};
    fill.Char.UnicodeChar = L' ';
    fill.Attributes = blank;
    const SHORT right = static_cast<SHORT>(info.dwSize.X - 1);
    const SHORT bottom = static_cast<SHORT>(info.dwSize.Y - 1);
    if (bottom == 0) {  // a single row: nothing moves, it only goes blank
      const std::vector<Cell> row(static_cast<std::size_t>(info.dwSize.X), Cell{U' ', blank});
      PutCells({1, 1}, row);
      return;
    }
    const SMALL_RECT moved{0, 1, right, bottom};
    ScrollConsoleScreenBufferW(screen_, &moved, nullptr, COORD{0, 0}, &fill);
  }

  void SetTextColours(ColourPair colours) override {
    if (screen_ != nullptr) SetConsoleTextAttribute(screen_, colours);
  }

  bool CursorVisible() override {
    CONSOLE_CURSOR_INFO info;
    if (screen_ == nullptr || !GetConsoleCursorInfo(screen_, &info)) return cursorVisible_;
    return info.bVisible != FALSE;
  }

  void SetCursorVisible(bool visible) override {
    cursorVisible_ = visible;
    CONSOLE_CURSOR_INFO info;
    if (screen_ == nullptr || !GetConsoleCursorInfo(screen_, &info)) return;
    info.bVisible = visible ? TRUE : FALSE;
    if (info.dwSize == 0) info.dwSize = kCursorSize;
    SetConsoleCursorInfo(screen_, &info);
  }

  KeyEvent NextKey() override {
    for (;;) {
      if (keys_.HasKey()) return keys_.Next();
      if (keyboard_ == INVALID_HANDLE_VALUE) return {KeyEvent::Kind::Character, 13};
      if (keyboardGone_) return {KeyEvent::Kind::Closed};
      INPUT_RECORD record;
      DWORD got = 0;
      // Blocks until a record comes. A failed read will fail again: from
      // then on there is no keyboard, and no caller waits for one.
      if (!ReadConsoleInputW(keyboard_, &record, 1, &got) || got == 0) {
        keyboardGone_ = true;
        return {KeyEvent::Kind::Closed};
      }
      keys_.Take(record);
    }
  }

  void Beep() override { MessageBeep(0); }

 private:
  // Output goes to whichever standard stream is a console; with both
  // redirected, to the console itself, where the keys come from and the
  // user looks; with no console at all, it is dropped.
  void OpenScreen() {
    DWORD mode = 0;
    screen_ = nullptr;
    for (const DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
      const HANDLE handle = GetStdHandle(stream);
      if (IsConsole(handle, mode)) {
        screen_ = handle;
        break;
      }
    }
    if (screen_ == nullptr) {
      ownScreen_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
      if (IsConsole(ownScreen_, mode)) screen_ = ownScreen_;
    }
    if (screen_ == nullptr) return;
    screenMode_ = mode;
    SetConsoleMode(screen_, kOutputMode);
    CONSOLE_SCREEN_BUFFER_INFO info;
    screenAttributes_ = Look(info) ? info.wAttributes : 7;
    cursorInfoSaved_ = GetConsoleCursorInfo(screen_, &cursorInfo_) != FALSE;
    // Some consoles report no cursor at all; give it the usual one.
    if (!cursorInfoSaved_ || cursorInfo_.dwSize == 0) {
      const CONSOLE_CURSOR_INFO visible{kCursorSize, TRUE};
      SetConsoleCursorInfo(screen_, &visible);
    }
  }

  // Read access only: under Wine a CONIN$ opened for writing too delivers
  // no keys.
  void OpenKeyboard() {
    keyboardGone_ = false;
    keys_ = {};
    keyboard_ = CreateFileW(L"CONIN$", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
    if (keyboard_ == INVALID_HANDLE_VALUE) return;
    keyboardModeSaved_ = GetConsoleMode(keyboard_, &keyboardMode_) != FALSE;
    // No line input, no echo, no processing: Ctrl+C arrives as the key 3.
    SetKeyboardMode(keyboard_, 0);
  }

  bool Look(CONSOLE_SCREEN_BUFFER_INFO& info) {
    return screen_ != nullptr && GetConsoleScreenBufferInfo(screen_, &info);
  }

  static COORD Coordinates(Position at) {
    return {static_cast<SHORT>(std::clamp(at.column - 1, 0, 0x7FFF)),
            static_cast<SHORT>(std::clamp(at.row - 1, 0, 0x7FFF))};
  }

  bool open_ = false;
  HANDLE screen_ = nullptr;  // nullptr: no console to draw on
  HANDLE ownScreen_ = INVALID_HANDLE_VALUE;  // CONOUT$, when opened here
  DWORD screenMode_ = 0;
  WORD screenAttributes_ = 7;
  CONSOLE_CURSOR_INFO cursorInfo_{};
  bool cursorInfoSaved_ = false;
  HANDLE keyboard_ = INVALID_HANDLE_VALUE;
  DWORD keyboardMode_ = 0;
  bool keyboardModeSaved_ = false;
  bool keyboardGone_ = false;
  windows::KeyRecordReader keys_;
  std::vector<CHAR_INFO> run_;
  Position cursor_;           // where the cursor is when there is no console
  bool cursorVisible_ = true;  // likewise its visibility
};

}  // namespace

std::unique_ptr<ConsoleDevice> MakePlatformConsole() { return std::make_unique<WindowsConsole>(); }

}  // namespace op
