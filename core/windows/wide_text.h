// Text between the tools' std::string and the UTF-16 of the wide Windows
// calls: the ANSI code page for what the screen and the file show (this is
// where code_page.h is done on Windows), UTF-8 for names, which must reach
// the file system unchanged.
#pragma once

#include <string>
#include <string_view>

namespace op::windows {

inline bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline char32_t CombineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// A character the code page lacks becomes the code page's own default
// character (or its best fit, as Windows chooses): for the system's words.
std::string CodePageFromWide(std::wstring_view text);

// Names as UTF-8, more exactly WTF-8: a surrogate without its partner is
// spelled as the three bytes a character of its value would take, so that
// every UTF-16 text comes back unit for unit. Bytes that are no UTF-8
// become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

}  // namespace op::windows
