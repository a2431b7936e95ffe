// Text between the tools' std::string and the UTF-16 of the wide Windows calls: the ANSI code page
// for what the screen and the file show (code_page.h on Windows), UTF-8 for names, which must
// reach the file system unchanged.
#pragma once

#include <string>
#include <string_view>

namespace op::windows {

inline bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
inline char32_t CombineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// For the system's words: a character the code page lacks becomes its default or a best fit.
std::string CodePageFromWide(std::wstring_view text);

// Names as UTF-8, more exactly WTF-8: a lone surrogate is spelled as the three bytes a character of
// its value would take, so every UTF-16 text comes back unit for unit. Bytes that are no UTF-8
// become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

}  // namespace op::windows
