// TextConsole: coloured text placed cell by cell at the cursor, a small line editor for questions
// and a wait for one key. Control characters in a text show as cells instead of being obeyed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console_device.h"

namespace op {

inline constexpr std::size_t kMaxLineLength = 10000;

class TextConsole {
 public:
  explicit TextConsole(ConsoleDevice& device) : device_(device) {}

  void Open();
  void Close();

  // The background is always black; a value outside 0..15 keeps the current foreground.
  void SetColour(int foreground);
  // An 8-bit text in the code page; an empty text does nothing at all.
  void Write(std::string_view text);
  void LineEnd();
  // Minus sign or space, the digits, one space: " 48 ", "-5 ".
  void WriteNumber(std::int64_t number);
  // The typed line in the code page, without Enter; none when the keyboard went away before Enter.
  std::optional<std::string> ReadLine();
  void WaitKey();
  void Beep();

 private:
  struct Frame {
    GridSize size;
    Position cursor;
  };
  // The size and cursor as the device has them, cursor clamped; a scroll waiting on a bottom row
  // that is no longer the bottom one becomes a plain move to the next row.
  Frame CurrentFrame();
  void Place(std::u32string_view characters);
  void Scroll() { device_.ScrollUp(Colours()); }
  void EraseBack();
  ColourPair Colours() const { return static_cast<ColourPair>(foreground_); }

  ConsoleDevice& device_;
  int foreground_ = 7;
  // The last cell of the bottom row was filled: the scroll and the move to the next row wait for
  // the next character, so a full last row is not followed by an empty one.
  bool pendingScroll_ = false;
  std::vector<Cell> row_;  // kept between calls so that a row allocates nothing
};

}  // namespace op
