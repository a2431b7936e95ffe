// TextConsole: coloured text placed cell by cell at the cursor, a small line
// editor for questions, and a wait for one key press. Control characters in
// a text show as cells instead of being obeyed.
#pragma once

#include <cstdint>
#include <span>
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

  // A value outside 0..15 keeps the current colour.
  void SetColour(int foreground, int background);
  // An 8-bit text in the code page; an empty text does nothing at all.
  void Write(std::string_view text);
  void LineEnd();
  // Minus sign or space, the digits, one space: " 48 ", "-5 ".
  void WriteNumber(std::int64_t number);
  // The typed line in the code page, without the Enter.
  std::string ReadLine();
  void WaitKey();
  void Beep();

  // The keyboard went away while a line was read (the terminal or console
  // window closed): that line is no answer.
  bool KeyboardLost() const { return keyboardLost_; }

 private:
  struct Frame {
    GridSize size;
    Position cursor;
  };
  // Reads the grid's size and the cursor afresh, clamped to the grid.
  Frame Look();
  // Places a run (cells, or plain text in the current colours) at the
  // cursor, a row at a time.
  template <typename Run>
  void Place(Frame& frame, Run run);
  template <typename Characters>
  void PlaceAsCells(Frame& frame, Characters characters);
  void PutRow(Position at, std::span<const Cell> cells);
  void PutRow(Position at, std::string_view plain);
  void ScrollOnce();
  void EraseBack(Frame& frame);
  ColourPair Colours() const {
    return static_cast<ColourPair>(foreground_ + 16 * background_);
  }

  ConsoleDevice& device_;
  int foreground_ = 7;
  int background_ = 0;
  bool pendingScroll_ = false;
  bool keyboardLost_ = false;
  // Kept between calls so that writing a text allocates nothing.
  std::vector<Cell> cells_;
};

}  // namespace op
