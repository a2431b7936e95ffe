// An in-memory console grid with scripted keys, for testing everything above
// the console seam.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "console_device.h"

namespace op::testing {

class FakeConsole final : public ConsoleDevice {
 public:
  FakeConsole(int width, int height, Position start = {1, 1})
      : size_{width, height}, cursor_(start),
        grid_(static_cast<std::size_t>(height), std::vector<Cell>(static_cast<std::size_t>(width))) {}

  // Scripted input: characters, special keys and other events, in order.
  // When the script runs out the keyboard counts as gone.
  void Type(std::u32string_view text) {
    for (const char32_t c : text) keys_.push_back({KeyEvent::Kind::Character, c, false});
  }
  void Press(KeyEvent key) { keys_.push_back(key); }
  void Special() { keys_.push_back({KeyEvent::Kind::Special, 0, false}); }

  // Row `row` (from 1) as UTF-32 text, trailing blanks cut.
  std::u32string Row(int row) const {
    std::u32string text;
    for (const Cell& cell : grid_[static_cast<std::size_t>(row - 1)]) text.push_back(cell.character);
    text.erase(text.find_last_not_of(U' ') + 1);
    return text;
  }
  // Row as 8-bit text, for rows that hold ASCII only.
  std::string Text(int row) const {
    std::string text;
    for (const char32_t c : Row(row)) text.push_back(c < 128 ? static_cast<char>(c) : '?');
    return text;
  }
  // The rows above the cursor's row: what a dialogue has written so far.
  std::vector<std::string> RowsAboveCursor() const {
    std::vector<std::string> rows;
    for (int row = 1; row < cursor_.row; ++row) rows.push_back(Text(row));
    return rows;
  }
  const Cell& At(int row, int column) const {
    return grid_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
  }
  // Every row that has left the top, oldest first, then the grid.
  std::vector<std::string> History() const {
    std::vector<std::string> rows = scrolledOff_;
    for (int row = 1; row <= size_.height; ++row) rows.push_back(Text(row));
    return rows;
  }
  int beeps = 0;
  int scrolls = 0;
  int keysTaken = 0;
  ColourPair textColours = 0;

  void Resize(int width, int height) {
    size_ = {width, height};
    grid_.resize(static_cast<std::size_t>(height));
    for (auto& row : grid_) row.resize(static_cast<std::size_t>(width));
  }

  // The seam.
  void Open() override {}
  void Close() override {}
  GridSize Size() override { return size_; }
  Position Cursor() override { return cursor_; }
  void SetCursor(Position at) override { cursor_ = at; }
  void PutCells(Position at, std::span<const Cell> cells) override {
    auto& row = grid_[static_cast<std::size_t>(at.row - 1)];
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const auto column = static_cast<std::size_t>(at.column - 1) + i;
      if (column < row.size()) row[column] = cells[i];
    }
  }
  void ScrollUp(ColourPair blank) override {
    ++scrolls;
    scrolledOff_.push_back(Text(1));
    grid_.erase(grid_.begin());
    grid_.emplace_back(static_cast<std::size_t>(size_.width), Cell{U' ', blank});
  }
  void SetTextColours(ColourPair colours) override { textColours = colours; }
  bool CursorVisible() override { return cursorVisible_; }
  void SetCursorVisible(bool visible) override { cursorVisible_ = visible; }
  KeyEvent NextKey() override {
    if (keys_.empty()) return {KeyEvent::Kind::Closed, 0, false};
    ++keysTaken;
    const KeyEvent key = keys_.front();
    keys_.pop_front();
    return key;
  }
  void Beep() override { ++beeps; }

  bool cursorVisible_ = true;

 private:
  GridSize size_;
  Position cursor_;
  std::vector<std::vector<Cell>> grid_;
  std::vector<std::string> scrolledOff_;
  std::deque<KeyEvent> keys_;
};

}  // namespace op::testing
