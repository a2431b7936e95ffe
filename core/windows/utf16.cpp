#include "utf16.h"

#include "../utf8.h"

namespace op::windows {

std::u32string CodePointsFromUtf16(std::wstring_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = static_cast<char16_t>(text[i]);
    if (IsHighSurrogate(unit) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
      out.push_back(CombineSurrogates(unit, static_cast<char16_t>(text[++i])));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      out.push_back(kReplacementCharacter);
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

std::wstring Utf16FromCodePoints(std::u32string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char32_t code : text) {
    if (code > 0x10FFFF) code = kReplacementCharacter;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
  }
  return out;
}

}  // namespace op::windows
