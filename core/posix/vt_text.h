// How a cell is spelled for a VT terminal: its colour pair as an SGR
// sequence and its character as a glyph of exactly one column.
#pragma once

#include <string>

#include "../console_device.h"
#include "../windows_1252.h"

namespace op::vt {

// Console colours are bit sets (blue 1, green 2, red 4, bright 8); ANSI
// numbers them with red and blue the other way round.
inline int AnsiIndex(int colour) {
  return ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2);
}

// "\x1b[0;FG;BGm": starts from a reset so no attribute of others lingers.
inline void AppendSgr(std::string& out, ColourPair colours) {
  const int foreground = colours & 0x0F;
  const int background = (colours >> 4) & 0x0F;
  const int fg = AnsiIndex(foreground) + ((foreground & 8) ? 90 : 30);
  const int bg = AnsiIndex(background) + ((background & 8) ? 100 : 40);
  out += "\x1b[0;";
  out += std::to_string(fg);
  out += ';';
  out += std::to_string(bg);
  out += 'm';
}

inline void AppendCursorMove(std::string& out, Position at) {
  out += "\x1b[";
  out += std::to_string(at.row);
  out += ';';
  out += std::to_string(at.column);
  out += 'H';
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
