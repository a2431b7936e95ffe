// UTF-16, the text of the wide Windows calls, to code points and back.
#pragma once

#include <string>
#include <string_view>

namespace op::windows {

inline bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

inline char32_t CombineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// A surrogate without its partner becomes U+FFFD.
std::u32string CodePointsFromUtf16(std::wstring_view text);
// A code point past U+10FFFF becomes U+FFFD; a lone surrogate code point
// stays the single unit it is.
std::wstring Utf16FromCodePoints(std::u32string_view text);

}  // namespace op::windows
