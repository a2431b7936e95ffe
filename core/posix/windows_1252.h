// Windows-1252, the 8-bit character set that stands in for the system's
// code page where the platform has none of its own.
#pragma once

namespace op {

// The character a byte stands for. The five bytes that Windows-1252 leaves
// undefined map to the C1 control of the same value, as Windows maps them.
char32_t Windows1252ToUnicode(unsigned char byte);

// The byte for a character, or -1 when the set lacks it.
int UnicodeToWindows1252(char32_t code);

}  // namespace op
