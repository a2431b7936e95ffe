#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "symbol_include.h"
#include "utf8.h"

namespace op::testing {

// Coloured cells, the rows scrolled off, and keys (U+E000 an arrow, U+E001 Alt+X, U+E002 a release) till the keyboard is gone.
struct FakeConsole final : ConsoleDevice {
  FakeConsole(int width, int height, Position start = {1, 1}) : cursor(start), grid(height, std::vector<Cell>(width)) {}
  void Type(std::u32string_view text) {
    for (const char32_t c : text) keys.push_back({c == 0xE000 ? KeyEvent::Kind::Special : c == 0xE002 ? KeyEvent::Kind::Other : KeyEvent::Kind::Character, c == 0xE001 ? U'x' : c, c == 0xE001});
  }
  // The scrolled-off rows, then the grid's, in UTF-8; trailing blanks and empty last rows cut.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines = gone;
    for (const auto& row : grid) lines.push_back(Text(row));
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }
  static std::string Text(const std::vector<Cell>& row) {
    std::string text;
    for (const Cell& cell : row) AppendUtf8(text, cell.character);
    return text.erase(text.find_last_not_of(' ') + 1);
  }

  void Open() override {}  // no raw keyboard, no interrupt keys
  void Close() override {}
  GridSize Size() override { return {static_cast<int>(grid[0].size()), static_cast<int>(grid.size())}; }
  Position Cursor() override { return cursor; }
  void SetCursor(Position at) override { cursor = at; }
  void PutCells(Position at, std::span<const Cell> cells) override {  // cells past the right edge are dropped
    std::copy_n(cells.begin(), std::min<std::size_t>(cells.size(), grid[0].size() + 1 - at.column), grid.at(at.row - 1).begin() + at.column - 1);
  }
  void ScrollUp(ColourPair blank) override {
    gone.push_back(Text(grid.front()));
    grid.erase(grid.begin());
    grid.emplace_back(grid[0].size(), Cell{U' ', blank});
  }
  void SetTextColours(ColourPair) override {}  // nobody else writes here, and no cursor is drawn
  bool CursorVisible() override { return true; }
  void SetCursorVisible(bool) override {}
  KeyEvent NextKey() override { return taken < keys.size() ? keys[taken++] : KeyEvent{KeyEvent::Kind::Closed}; }
  void Beep() override { ++beeps; }

  Position cursor;
  std::vector<std::vector<Cell>> grid;
  std::vector<std::string> gone;
  std::vector<KeyEvent> keys;
  std::size_t taken = 0, beeps = 0;
};

// One conversion by the writer into OpSymbs.inc in the current directory, echoed on `screen`.
inline bool Convert(FakeConsole& screen, EchoLayout layout, std::string_view comment, std::string_view stream) {
  TextConsole console(screen);
  const auto files = MakePlatformFileSystem();
  SymbolIncludeWriter writer(console, *files, layout);
  writer.Begin(comment);
  for (const char c : stream) writer.Feed(c);
  return writer.Finish();
}

// One data line of OpSymbs.inc: eight bits.
inline std::string Data(const std::string& bits) { return "        de   b'" + bits + "'\r\n"; }

// The current directory while it lives, as the tools work in the current directory.
struct ScratchDir {
  std::filesystem::path old = std::filesystem::current_path(), path = std::filesystem::temp_directory_path() / ("optest-" + std::to_string(std::random_device()()));
  ScratchDir() { std::filesystem::create_directory(path), std::filesystem::current_path(path); }
  ~ScratchDir() { std::filesystem::current_path(old), std::filesystem::remove_all(path); }
  static void Put(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }
  static std::string Get(const std::string& name) { return (std::ostringstream() << std::ifstream(name, std::ios::binary).rdbuf()).str(); }
};

}  // namespace op::testing
