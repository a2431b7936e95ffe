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

// What the code page lacks becomes '?', never a look-alike: a comment
// typed as "Łukasz" must not turn into "Lukasz" unseen.
std::string ToCodePage(std::u32string_view text) {
  // Only UTF-8 as the system code page holds characters past U+FFFF; any
  // other would turn both halves of the pair into a default character,
  // two for one character.
  if (GetACP() == CP_UTF8) {
    return windows::CodePageFromWideWithoutBestFit(windows::Utf16FromCodePoints(text));
  }
  std::u32string narrowed(text);
  for (char32_t& code : narrowed) {
    if (code > 0xFFFF) code = kReplacementCharacter;
  }
  return windows::CodePageFromWideWithoutBestFit(windows::Utf16FromCodePoints(narrowed));
}

// Names travel as UTF-8; the screen shows them in the code page.
std::string FromSystemText(std::string_view text) {
  return ToCodePage(windows::CodePointsFromUtf16(windows::WideFromUtf8(text)));
}

}  // namespace op
