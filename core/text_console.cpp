#include "text_console.h"

#include <algorithm>

#include "code_page.h"

namespace op {

void TextConsole::Open() {
  device_.Open();
  foreground_ = 7;
  pendingScroll_ = false;
}

void TextConsole::Close() { device_.Close(); }

void TextConsole::SetColour(int foreground) {
  if (foreground >= 0 && foreground <= 15) foreground_ = foreground;
  device_.SetTextColours(Colours());
}

TextConsole::Frame TextConsole::CurrentFrame() {
  Frame frame{device_.Size(), device_.Cursor()};
  frame.size.width = std::max(frame.size.width, 1);
  frame.size.height = std::max(frame.size.height, 1);
  frame.cursor.row = std::clamp(frame.cursor.row, 1, frame.size.height);
  frame.cursor.column = std::clamp(frame.cursor.column, 1, frame.size.width);
  // A pending scroll belongs to the bottom row; if the grid grew since, the cursor just moves on.
  if (pendingScroll_ && frame.cursor.row != frame.size.height) {
    pendingScroll_ = false;
    frame.cursor = {frame.cursor.row + 1, 1};
  }
  return frame;
}

// One device call per row, not per character. A character in the last cell of the bottom row does
// not scroll at once: the cursor waits at the start of that row for the next character.
void TextConsole::Place(std::u32string_view characters) {
  if (characters.empty()) return;
  Frame frame = CurrentFrame();
  const ColourPair colours = Colours();
  while (!characters.empty()) {
    if (pendingScroll_) {
      pendingScroll_ = false;
      Scroll();
    }
    const auto room = static_cast<std::size_t>(frame.size.width - frame.cursor.column + 1);
    const std::size_t count = std::min(room, characters.size());
    row_.clear();
    for (const char32_t c : characters.substr(0, count)) row_.push_back({c, colours});
    device_.PutCells(frame.cursor, row_);
    characters.remove_prefix(count);
    if (count < room) {
      frame.cursor.column += static_cast<int>(count);
    } else if (frame.cursor.row < frame.size.height) {
      frame.cursor = {frame.cursor.row + 1, 1};
    } else {
      frame.cursor.column = 1;
      pendingScroll_ = true;
    }
  }
  device_.SetCursor(frame.cursor);
}

void TextConsole::Write(std::string_view text) { Place(FromCodePage(text)); }

void TextConsole::LineEnd() {
  Frame frame = CurrentFrame();
  if (frame.cursor.row < frame.size.height) {
    frame.cursor = {frame.cursor.row + 1, 1};
  } else {
    Scroll();
    if (pendingScroll_) {
      pendingScroll_ = false;
      Scroll();
    }
    frame.cursor = {frame.size.height, 1};
  }
  device_.SetCursor(frame.cursor);
}

void TextConsole::WriteNumber(std::int64_t number) {
  // The magnitude spelled without negating: the lowest value has no positive counterpart.
  std::string digits = std::to_string(number);
  if (number < 0) digits.erase(0, 1);
  Write((number < 0 ? "-" : " ") + digits + " ");
}

// Backspace: one cell back, a blank there, the cursor on it. Back from column 1 is the row above's
// last column; while a scroll is pending the character just typed is in the bottom row's last cell.
void TextConsole::EraseBack() {
  Frame frame = CurrentFrame();
  if (pendingScroll_) {
    pendingScroll_ = false;
    frame.cursor = {frame.size.height, frame.size.width};
  } else if (frame.cursor.column > 1) {
    --frame.cursor.column;
  } else if (frame.cursor.row > 1) {
    frame.cursor = {frame.cursor.row - 1, frame.size.width};
  } else {
    return;  // the cell scrolled off the top; nothing left to erase
  }
  const Cell blank{U' ', Colours()};
  device_.PutCells(frame.cursor, {&blank, 1});
  device_.SetCursor(frame.cursor);
}

std::optional<std::string> TextConsole::ReadLine() {
  const bool wasHidden = !device_.CursorVisible();
  if (wasHidden) device_.SetCursorVisible(true);
  std::u32string line;
  std::optional<std::string> answer;
  for (;;) {
    const KeyEvent key = device_.NextKey();
    if (key.kind == KeyEvent::Kind::Closed) break;  // the user left: no answer
    if (key.kind != KeyEvent::Kind::Character || key.altLetter) continue;
    const char32_t c = key.character;
    if (c == 13) {
      LineEnd();
      answer = ToCodePage(line);
      break;
    }
    if (c == 8) {
      if (!line.empty()) {
        line.pop_back();
        EraseBack();
      }
      continue;
    }
    if (c < 32 || line.size() >= kMaxLineLength) continue;
    line.push_back(c);
    Place({&c, 1});
  }
  if (wasHidden) device_.SetCursorVisible(false);
  return answer;
}

void TextConsole::WaitKey() {
  while (device_.NextKey().kind == KeyEvent::Kind::Other) {}
}

void TextConsole::Beep() { device_.Beep(); }

}  // namespace op
