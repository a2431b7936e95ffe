// How a cell is spelled for a VT terminal: its colour pair as an SGR
// sequence and its character as a glyph of exactly one column.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "../console_device.h"
#include "windows_1252.h"

namespace op::vt {

// Console colours are bit sets (blue 1, green 2, red 4, bright 8); ANSI
// numbers them with red and blue the other way round.
inline int AnsiIndex(int colour) {
  return ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2);
}

// Writes a number's decimal digits at `out` and returns their end.
inline char* SpellNumber(char* out, int number) {
  char digits[12];
  char* const end = digits + sizeof digits;
  char* first = end;
  unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::copy(first, end, out);
}

// A short sequence spelled in place, so that it costs no allocation and
// its length is known before it is sent.
struct Sequence {
  char bytes[32];
  std::size_t size = 0;
  std::string_view View() const { return {bytes, size}; }
};

// "\x1b[0;FG;BGm": starts from a reset so no attribute of others lingers.
inline Sequence Sgr(ColourPair colours) {
  const int foreground = colours & 0x0F;
  const int background = (colours >> 4) & 0x0F;
  Sequence out;
  char* end = std::copy_n("\x1b[0;", 4, out.bytes);
  end = SpellNumber(end, AnsiIndex(foreground) + ((foreground & 8) ? 90 : 30));
  *end++ = ';';
  end = SpellNumber(end, AnsiIndex(background) + ((background & 8) ? 100 : 40));
  *end++ = 'm';
  out.size = static_cast<std::size_t>(end - out.bytes);
  return out;
}

// "\x1b[ROW;COLUMNH"
inline Sequence CursorMove(Position at) {
  Sequence out;
  char* end = std::copy_n("\x1b[", 2, out.bytes);
  end = SpellNumber(end, at.row);
  *end++ = ';';
  end = SpellNumber(end, at.column);
  *end++ = 'H';
  out.size = static_cast<std::size_t>(end - out.bytes);
  return out;
}

// "\x1b[COLUMNG": to a column of the row the cursor is on.
inline Sequence ColumnMove(int column) {
  Sequence out;
  char* end = std::copy_n("\x1b[", 2, out.bytes);
  end = SpellNumber(end, column);
  *end++ = 'G';
  out.size = static_cast<std::size_t>(end - out.bytes);
  return out;
}

// A control byte written to the terminal would be obeyed, not shown; a
// character outside Windows-1252 may be wide or absent from the font.
inline char32_t Glyph(char32_t c) {
  if (c < 0x20) return 0x2400 + c;  // control pictures: ␀ .. ␟
  if (c == 0x7F) return 0x2421;     // ␡
  if (c >= 0x80 && c <= 0x9F) return U'?';
  if (UnicodeToWindows1252(c) < 0) return U'?';
  return c;
}

}  // namespace op::vt
