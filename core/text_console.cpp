#include "text_console.h"

#include <algorithm>

#include "code_page.h"

namespace op {
namespace {

std::span<const Cell> Head(std::span<const Cell> run, std::size_t count) { return run.first(count); }
std::span<const Cell> Tail(std::span<const Cell> run, std::size_t count) { return run.subspan(count); }
std::string_view Head(std::string_view run, std::size_t count) { return run.substr(0, count); }
std::string_view Tail(std::string_view run, std::size_t count) { return run.substr(count); }

// Characters 32..126: shown as they are, the same in every code page.
bool IsPlain(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c - 0x20) < 0x5F; });
}

char32_t CodeOf(char c) { return static_cast<unsigned char>(c); }
char32_t CodeOf(char32_t c) { return c; }

}  // namespace

void TextConsole::Open() {
  device_.Open();
  foreground_ = 7;
  background_ = 0;
  pendingScroll_ = false;
}

void TextConsole::Close() { device_.Close(); }

void TextConsole::SetColour(int foreground, int background) {
  if (foreground >= 0 && foreground <= 15) foreground_ = foreground;
  if (background >= 0 && background <= 15) background_ = background;
  device_.SetTextColours(Colours());
}

TextConsole::Frame TextConsole::Look() {
  Frame frame{device_.Size(), device_.Cursor()};
  frame.size.width = std::max(frame.size.width, 1);
  frame.size.height = std::max(frame.size.height, 1);
  frame.cursor.row = std::clamp(frame.cursor.row, 1, frame.size.height);
  frame.cursor.column = std::clamp(frame.cursor.column, 1, frame.size.width);
  // A pending scroll belongs to the bottom row; if the grid grew since, the
  // filled row is no longer at the bottom and the cursor simply moves on.
  if (pendingScroll_ && frame.cursor.row != frame.size.height) {
    pendingScroll_ = false;
    frame.cursor = {frame.cursor.row + 1, 1};
  }
  return frame;
}

void TextConsole::ScrollOnce() { device_.ScrollUp(Colours()); }

void TextConsole::PutRow(Position at, std::span<const Cell> cells) {
  device_.PutCells(at, cells);
}

void TextConsole::PutRow(Position at, std::string_view plain) {
  device_.PutPlain(at, plain, Colours());
}

// Places a run at the cursor a row at a time, so the device is called once
// per row rather than once per character. A character landing in the last
// cell of the bottom row does not scroll at once: the cursor waits at the
// start of that row until the next character arrives.
template <typename Run>
void TextConsole::Place(Frame& frame, Run run) {
  while (!run.empty()) {
    if (pendingScroll_) {
      pendingScroll_ = false;
      ScrollOnce();
    }
    const auto room = static_cast<std::size_t>(frame.size.width - frame.cursor.column + 1);
    const std::size_t count = std::min(room, run.size());
    PutRow(frame.cursor, Head(run, count));
    run = Tail(run, count);
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

// Places characters as cells a piece at a time, so that the cells never
// take much memory however long the text is.
template <typename Characters>
void TextConsole::PlaceAsCells(Frame& frame, Characters characters) {
  constexpr std::size_t kPiece = 4096;
  const ColourPair colours = Colours();
  while (!characters.empty()) {
    const std::size_t length = std::min(characters.size(), kPiece);
    cells_.resize(length);
    for (std::size_t i = 0; i < length; ++i) cells_[i] = {CodeOf(characters[i]), colours};
    Place(frame, std::span<const Cell>(cells_));
    characters.remove_prefix(length);
  }
}

void TextConsole::Write(std::string_view text) {
  if (text.empty()) return;
  Frame frame = Look();
  // Plain text, the common case (the echo of the bits, the messages), goes
  // to the device as it is.
  if (IsPlain(text)) {
    Place(frame, text);
    return;
  }
  // ASCII is the same in every code page. From the first character beyond
  // it the rest is converted as a whole: a piece must not end inside a
  // character of a code page that spells some characters in two bytes.
  const auto ascii = static_cast<std::size_t>(
      std::find_if(text.begin(), text.end(),
                   [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) -
      text.begin());
  PlaceAsCells(frame, text.substr(0, ascii));
  if (ascii < text.size()) {
    const std::u32string rest = FromCodePage(text.substr(ascii));
    PlaceAsCells(frame, std::u32string_view(rest));
  }
}

void TextConsole::LineEnd() {
  Frame frame = Look();
  if (frame.cursor.row < frame.size.height) {
    frame.cursor = {frame.cursor.row + 1, 1};
  } else {
    ScrollOnce();
    if (pendingScroll_) {
      pendingScroll_ = false;
      ScrollOnce();
    }
    frame.cursor = {frame.size.height, 1};
  }
  device_.SetCursor(frame.cursor);
}

void TextConsole::WriteNumber(std::int64_t number) {
  std::string form(1, number < 0 ? '-' : ' ');
  // Digits of the magnitude, built without negating (the lowest value has
  // no positive counterpart).
  std::string digits;
  do {
    const int digit = static_cast<int>(number % 10);
    digits.push_back(static_cast<char>('0' + (digit < 0 ? -digit : digit)));
    number /= 10;
  } while (number != 0);
  form.append(digits.rbegin(), digits.rend());
  form.push_back(' ');
  Write(form);
}

// Backspace: one cell back, a blank there, the cursor on it. Back from
// column 1 is the last column of the row above; while a scroll is pending
// the character just typed sits in the last cell of the bottom row.
void TextConsole::EraseBack(Frame& frame) {
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
  device_.PutCells(frame.cursor, std::span<const Cell>(&blank, 1));
  device_.SetCursor(frame.cursor);
}

std::string TextConsole::ReadLine() {
  const bool wasHidden = !device_.CursorVisible();
  if (wasHidden) device_.SetCursorVisible(true);
  std::u32string line;
  for (;;) {
    const KeyEvent key = device_.NextKey();
    if (key.kind == KeyEvent::Kind::Lost) {
      // The user left before answering: the answer is not taken.
      keyboardLost_ = true;
      break;
    }
    if (key.kind != KeyEvent::Kind::Character && key.kind != KeyEvent::Kind::Closed) continue;
    if (key.altLetter) continue;
    const char32_t c = key.character;
    // Without any keyboard the line ends as if Enter had been pressed, so a
    // run with no terminal never waits for ever.
    if (c == 13 || key.kind == KeyEvent::Kind::Closed) {
      LineEnd();
      break;
    }
    if (c == 8) {
      if (!line.empty()) {
        line.pop_back();
        Frame frame = Look();
        EraseBack(frame);
      }
      continue;
    }
    if (c < 32 || line.size() >= kMaxLineLength) continue;
    line.push_back(c);
    const Cell cell{c, Colours()};
    Frame frame = Look();
    Place(frame, std::span<const Cell>(&cell, 1));
  }
  if (wasHidden) device_.SetCursorVisible(false);
  return ToCodePage(line);
}

void TextConsole::WaitKey() {
  for (;;) {
    const KeyEvent::Kind kind = device_.NextKey().kind;
    if (kind != KeyEvent::Kind::Other) return;
  }
}

void TextConsole::Beep() { device_.Beep(); }

}  // namespace op
