#include "wide_text.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "../code_page.h"
#include "../utf8.h"

namespace op::windows {
namespace {

// The conversion calls count in int; no text of these tools comes near it.
int Length(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

std::string AnsiFromWide(std::wstring_view text, DWORD flags, const char* defaultCharacter) {
  if (text.empty()) return {};
  const int length = Length(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0,
                                        defaultCharacter, nullptr);
  if (bytes <= 0) return {};
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, flags, text.data(), length, narrow.data(), bytes, defaultCharacter,
                      nullptr);
  return narrow;
}

std::wstring WideFromCodePage(std::string_view text) {
  if (text.empty()) return {};
  const int length = Length(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  return wide;
}

// A surrogate without its partner becomes U+FFFD.
std::u32string CodePointsFromWide(std::wstring_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = static_cast<char16_t>(text[i]);
    if (IsHighSurrogate(unit) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
      out.push_back(CombineSurrogates(unit, static_cast<char16_t>(text[++i])));
    } else {
      out.push_back(IsHighSurrogate(unit) || IsLowSurrogate(unit) ? kReplacementCharacter : unit);
    }
  }
  return out;
}

}  // namespace

std::string CodePageFromWide(std::wstring_view text) { return AnsiFromWide(text, 0, nullptr); }

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = static_cast<char16_t>(text[i]);
    if (IsHighSurrogate(code) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
      code = CombineSurrogates(code, static_cast<char16_t>(text[++i]));
    } else if (IsHighSurrogate(code) || IsLowSurrogate(code)) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      continue;
    }
    AppendUtf8(out, code);
  }
  return out;
}

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    // ED A0..BF xx: a lone surrogate as Utf8FromWide spells it.
    if (text.size() >= 3 && byte(0) == 0xED && (byte(1) & 0xE0) == 0xA0 &&
        (byte(2) & 0xC0) == 0x80) {
      out.push_back(static_cast<wchar_t>(0xD000 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F)));
      text.remove_prefix(3);
      continue;
    }
    const Utf8Step step = DecodeUtf8(text);
    const char32_t code = step.length == 0 ? kReplacementCharacter : step.code;
    if (code >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
    text.remove_prefix(step.length == 0 ? 1 : step.length);
  }
  return out;
}

}  // namespace op::windows

namespace op {

std::u32string FromCodePage(std::string_view text) {
  return windows::CodePointsFromWide(windows::WideFromCodePage(text));
}

// What the code page lacks becomes '?', never a look-alike: a comment typed
// as "Łukasz" must not turn into "Lukasz" unseen. Only UTF-8 as the code
// page holds characters past U+FFFF; any other would turn both halves of
// the pair into a default character, two for one character.
std::string ToCodePage(std::u32string_view text) {
  const bool utf8 = GetACP() == CP_UTF8;
  std::wstring wide;
  wide.reserve(text.size());
  for (char32_t code : text) {
    if (code > 0x10FFFF || (code > 0xFFFF && !utf8)) code = kReplacementCharacter;
    if (code > 0xFFFF) {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(code));
    }
  }
  // UTF-8 holds every character and takes neither the flag nor a default.
  static const char kQuestionMark = '?';
  return utf8 ? windows::AnsiFromWide(wide, 0, nullptr)
              : windows::AnsiFromWide(wide, WC_NO_BEST_FIT_CHARS, &kQuestionMark);
}

// Names travel as UTF-8; the screen shows them in the code page.
std::string FromSystemText(std::string_view text) {
  return ToCodePage(windows::CodePointsFromWide(windows::WideFromUtf8(text)));
}

}  // namespace op
