// How a cell is spelled for a VT terminal: its colour pair as an SGR
// sequence and its character as a glyph of exactly one column.
#pragma once

#include <algorithm>
#include <string>

#include "../console_device.h"
#include "../windows_1252.h"

namespace op::vt {

// Console colours are bit sets (blue 1, green 2, red 4, bright 8); ANSI
// numbers them with red and blue the other way round.
inline int AnsiIndex(int colour) {
  return ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2);
}

// A number's decimal digits, without the allocation std::to_string may do.
inline void AppendNumber(std::string& out, int number) {
  char digits[12];
  char* end = digits + sizeof digits;
  char* at = end;
  unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.append(at, static_cast<std::size_t>(end - at));
}

// "\x1b[0;FG;BGm": starts from a reset so no attribute of others lingers.
inline void AppendSgr(std::string& out, ColourPair colours) {
  const int foreground = colours & 0x0F;
  const int background = (colours >> 4) & 0x0F;
  const int fg = AnsiIndex(foreground) + ((foreground & 8) ? 90 : 30);
  const int bg = AnsiIndex(background) + ((background & 8) ? 100 : 40);
  out += "\x1b[0;";
  AppendNumber(out, fg);
  out += ';';
  AppendNumber(out, bg);
  out += 'm';
}

inline void AppendCursorMove(std::string& out, Position at) {
  out += "\x1b[";
  AppendNumber(out, at.row);
  out += ';';
  AppendNumber(out, at.column);
  out += 'H';
}

// To a column of the row the cursor is on; spelled in one piece, as every
// echoed row needs one.
inline void AppendColumnMove(std::string& out, int column) {
  char move[16] = "\x1b[";
  char* end = move + 2;
  char digits[12];
  char* first = digits + sizeof digits;
  unsigned value = column < 0 ? 0u : static_cast<unsigned>(column);
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  end = std::copy(first, digits + sizeof digits, end);
  *end++ = 'G';
  out.append(move, static_cast<std::size_t>(end - move));
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
