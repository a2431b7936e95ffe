// The console on Windows: cells into the screen buffer, keys from CONIN$, wherever streams go.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "../console_device.h"
#include "key_records.h"

namespace op {
namespace {

constexpr DWORD kOutputMode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
constexpr DWORD kCursorSize = 10;  // percent of a cell, the usual underline

// Ctrl+C and Ctrl+Break never interrupt; a closing console still ends us.
BOOL WINAPI OnControlEvent(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// Under Wine only a writable handle may change the keyboard's mode, yet a writable CONIN$ gets no
// keys: the mode belongs to the input buffer, so a refused change goes via a second, writable one.
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

// Rows that scroll in are gathered and go out in three calls, as each is slow (Wine redraws all it
// touched): a scroll by that many rows, the rows as one rectangle, the cursor.
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
    Flush();
    open_ = false;
    SetConsoleCtrlHandler(OnControlEvent, FALSE);
    if (keyboard_ != INVALID_HANDLE_VALUE) {
      if (keyboardModeSaved_) SetKeyboardMode(keyboard_, keyboardMode_);
      CloseHandle(keyboard_);
      keyboard_ = INVALID_HANDLE_VALUE;
    }
    if (screen_ != nullptr) {
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
    Sync();
    return size_;
  }

  Position Cursor() override {
    Sync();
    return cursor_;
  }

  // Ends each write; gathered rows go out a window's height at a time.
  void SetCursor(Position at) override {
    Sync();
    cursor_ = at;
    if (rows_ == 0 || rows_ >= windowHeight_) Flush();
  }

  // Cells of a gathered row join it; others are written at once.
  void PutCells(Position at, std::span<const Cell> cells) override {
    if (rows_ > 0 && at.row < Top()) Flush();
    Sync();
    const int width = size_.width;
    if (!known_ || at.row < 1 || at.row > size_.height || at.column < 1 || at.column > width) return;
    cells = cells.first(std::min(cells.size(), static_cast<std::size_t>(width - at.column + 1)));
    run_.resize(cells.size());
    CHAR_INFO* out = rows_ == 0 ? run_.data() : &block_[(at.row - Top()) * width + at.column - 1];
    for (const Cell& cell : cells) {
      // One cell holds one UTF-16 unit: what needs two cannot be shown.
      const bool fits = cell.character < 0xD800 ||
                        (cell.character >= 0xE000 && cell.character <= 0xFFFF);
      *out++ = {{fits ? static_cast<wchar_t>(cell.character) : L'?'}, cell.colours};
    }
    const int count = static_cast<int>(cells.size());
    SMALL_RECT area{Short(at.column - 1), Short(at.row - 1), Short(at.column - 2 + count),
                    Short(at.row - 1)};
    if (rows_ == 0) WriteConsoleOutputW(screen_, run_.data(), {Short(count), 1}, {}, &area);
  }

  // The gathered rows move up by one in place: a blank one joins below.
  void ScrollUp(ColourPair blank) override {
    if (rows_ >= windowHeight_) Flush();
    Sync();
    if (!known_) return;
    block_.resize(static_cast<std::size_t>(++rows_ * size_.width), {{L' '}, blank});
  }

  void SetTextColours(ColourPair colours) override {
    Flush();
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
    Flush();
    for (;;) {
      if (keys_.HasKey()) return keys_.Next();
      if (keyboard_ == INVALID_HANDLE_VALUE) return {KeyEvent::Kind::Character, 13};
      if (keyboardGone_) return {KeyEvent::Kind::Closed};
      INPUT_RECORD record;
      DWORD got = 0;
      // A failed read will fail again: from then on there is no keyboard.
      if (!ReadConsoleInputW(keyboard_, &record, 1, &got) || got == 0) {
        keyboardGone_ = true;
        return {KeyEvent::Kind::Closed};
      }
      keys_.Take(record);
    }
  }

  void Beep() override {
    Flush();
    MessageBeep(0);
  }

 private:
  // Output goes to whichever standard stream is a console, else to CONOUT$, else nowhere.
  void OpenScreen() {
    DWORD mode = 0;
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
    screenAttributes_ = GetConsoleScreenBufferInfo(screen_, &info) ? info.wAttributes : 7;
    cursorInfoSaved_ = GetConsoleCursorInfo(screen_, &cursorInfo_) != FALSE;
    // Some consoles report no cursor at all; give it the usual one.
    if (!cursorInfoSaved_ || cursorInfo_.dwSize == 0) {
      const CONSOLE_CURSOR_INFO visible{kCursorSize, TRUE};
      SetConsoleCursorInfo(screen_, &visible);
    }
  }

  void OpenKeyboard() {
    keyboardGone_ = false;
    keys_ = {};
    keyboard_ = CreateFileW(L"CONIN$", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);  // read access only, see SetKeyboardMode
    if (keyboard_ == INVALID_HANDLE_VALUE) return;
    keyboardModeSaved_ = GetConsoleMode(keyboard_, &keyboardMode_) != FALSE;
    // No line input, no echo, no processing: Ctrl+C arrives as the key 3.
    SetKeyboardMode(keyboard_, 0);
  }

  void Sync() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (known_ || screen_ == nullptr || !GetConsoleScreenBufferInfo(screen_, &info)) return;
    known_ = true;
    size_ = {std::max<int>(info.dwSize.X, 1), std::max<int>(info.dwSize.Y, 1)};
    cursor_ = {info.dwCursorPosition.Y + 1, info.dwCursorPosition.X + 1};
    windowHeight_ = std::clamp(info.srWindow.Bottom - info.srWindow.Top + 1, 1, size_.height);
  }

  // Only the rows above the gathered ones move: none when those fill the screen.
  void Flush() {
    if (!known_) return;  // nothing written since the last flush, or no console
    if (rows_ > 0) {
      const CHAR_INFO fill{{L' '}, 7};
      const SMALL_RECT moved = Rows(rows_ + 1, size_.height);
      if (rows_ < size_.height) ScrollConsoleScreenBufferW(screen_, &moved, nullptr, {}, &fill);
      SMALL_RECT area = Rows(Top(), size_.height);
      WriteConsoleOutputW(screen_, block_.data(), {Short(size_.width), Short(rows_)}, {}, &area);
    }
    SetConsoleCursorPosition(screen_, {Short(cursor_.column - 1), Short(cursor_.row - 1)});
    known_ = false;
    rows_ = 0;
    block_.clear();
  }

  int Top() const { return size_.height + 1 - rows_; }

  SMALL_RECT Rows(int first, int last) const {
    return {0, Short(first - 1), Short(size_.width - 1), Short(last - 1)};
  }

  static SHORT Short(int value) { return static_cast<SHORT>(std::clamp(value, 0, 0x7FFF)); }

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
  bool known_ = false;  // size_, cursor_ and windowHeight_ read since the last flush
  GridSize size_;
  Position cursor_;  // also the cursor when there is no console
  int windowHeight_ = 24;
  int rows_ = 0;  // gathered: the bottom rows, all scrolled in since the last flush
  std::vector<CHAR_INFO> block_;
  std::vector<CHAR_INFO> run_;
  bool cursorVisible_ = true;  // the visibility when there is no console
};

}  // namespace

std::unique_ptr<ConsoleDevice> MakePlatformConsole() { return std::make_unique<WindowsConsole>(); }

}  // namespace op
