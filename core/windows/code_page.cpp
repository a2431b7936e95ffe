// The console seam speaks code points, Windows speaks UTF-16: the code page
// conversion is the system's, the step between UTF-16 and code points is
// done here.
#include "../code_page.h"

#include <windows.h>

#include "../utf8.h"
#include "utf16.h"
#include "wide_text.h"

namespace op {

std::u32string FromCodePage(std::string_view text) {
  return windows::CodePointsFromUtf16(windows::WideFromCodePage(text));
}

std::string ToCodePage(std::u32string_view text) {
  // Only UTF-8 as the system code page holds characters past U+FFFF; any
  // other would turn both halves of the pair into a default character,
  // two for one character.
  if (GetACP() == CP_UTF8) return windows::CodePageFromWide(windows::Utf16FromCodePoints(text));
  std::u32string narrowed(text);
  for (char32_t& code : narrowed) {
    if (code > 0xFFFF) code = kReplacementCharacter;
  }
  return windows::CodePageFromWide(windows::Utf16FromCodePoints(narrowed));
}

// Names reach the seams in the code page already.
std::string FromSystemText(std::string_view text) { return std::string(text); }

}  // namespace op
