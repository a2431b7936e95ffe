// The seam between TextConsole and the platform's console: a grid of cells, a cursor, one-row
// scrolling and the keyboard. TextConsole owns every rule of placement; a device only obeys.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace op {

// Rows and columns count from 1, top left.
struct Position {
  int row = 1;
  int column = 1;
  bool operator==(const Position&) const = default;
};

struct GridSize {
  int width = 80;
  int height = 24;
  bool operator==(const GridSize&) const = default;
};

// A colour pair: foreground console colour plus 16 times the background.
using ColourPair = std::uint8_t;

struct Cell {
  char32_t character = U' ';
  ColourPair colours = 7;
};

struct KeyEvent {
  enum class Kind {
    Character,  // a key press that yields a character
    Special,    // arrows, Home, End, Insert, Delete, Page Up/Down, function keys
    Other,      // releases, lone modifiers, mouse and window events
    Closed,     // the keyboard went away for good (its terminal or console window closed)
  };
  Kind kind = Kind::Other;
  char32_t character = 0;
  bool altLetter = false;  // Alt or AltGr was held on a key of the three letter rows
};

class ConsoleDevice {
 public:
  virtual ~ConsoleDevice() = default;

  // Open takes the keyboard raw and claims the interrupt keys; Close gives them back, text kept.
  virtual void Open() = 0;
  virtual void Close() = 0;

  virtual GridSize Size() = 0;
  virtual Position Cursor() = 0;
  virtual void SetCursor(Position at) = 0;
  // Puts cells into one row from `at` on, obeying no character and leaving
  // the cursor where it is; cells past the right edge are dropped.
  virtual void PutCells(Position at, std::span<const Cell> cells) = 0;
  // Moves rows 2..H up by one; row H becomes spaces in `blank`.
  virtual void ScrollUp(ColourPair blank) = 0;
  // The colours the console uses for text that others write to it.
  virtual void SetTextColours(ColourPair colours) = 0;
  virtual bool CursorVisible() = 0;
  virtual void SetCursorVisible(bool visible) = 0;
  // Blocks until the next input event. With no keyboard at all every key is Enter, so that a run
  // nobody watches takes the empty answer and never waits for ever.
  virtual KeyEvent NextKey() = 0;
  virtual void Beep() = 0;
};

// The platform's console, chosen at build time.
std::unique_ptr<ConsoleDevice> MakePlatformConsole();

}  // namespace op
