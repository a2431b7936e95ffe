#include "wide_text.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "../code_page.h"
#include "../utf8.h"

namespace op::windows {
namespace {

// The conversion calls count in int; no text of these tools comes near it.
int Length(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

std::string AnsiFromWide(std::wstring_view text, DWORD flags, const char* defaultCharacter) {
  const int length = Length(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0,
                                        defaultCharacter, nullptr);
  std::string narrow(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
  WideCharToMultiByte(CP_ACP, flags, text.data(), length, narrow.data(), bytes, defaultCharacter,
                      nullptr);
  return narrow;
}

// A surrogate without its partner stays as it is (for WTF-8) or becomes U+FFFD.
std::u32string CodePointsFromWide(std::wstring_view text, bool keepLoneSurrogates = false) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = static_cast<char16_t>(text[i]);
    if (IsHighSurrogate(code) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<char16_t>(text[i + 1]))) {
      code = CombineSurrogates(code, static_cast<char16_t>(text[++i]));
    } else if (!keepLoneSurrogates && (IsHighSurrogate(code) || IsLowSurrogate(code))) {
      code = kReplacementCharacter;
    }
    out.push_back(code);
  }
  return out;
}

void AppendWide(std::wstring& out, char32_t code) {
  if (code > 0xFFFF) {
    out.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
    code = 0xDC00 + ((code - 0x10000) & 0x3FF);
  }
  out.push_back(static_cast<wchar_t>(code));
}

}  // namespace

std::string CodePageFromWide(std::wstring_view text) { return AnsiFromWide(text, 0, nullptr); }

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  for (const char32_t code : CodePointsFromWide(text, true)) {
    if (IsHighSurrogate(code) || IsLowSurrogate(code)) {  // AppendUtf8 would write U+FFFD
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      AppendUtf8(out, code);
    }
  }
  return out;
}

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring out;
  while (!text.empty()) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    Utf8Step step = DecodeUtf8(text);
    // ED A0..BF xx: a lone surrogate as Utf8FromWide spells it.
    if (text.size() >= 3 && byte(0) == 0xED && (byte(1) & 0xE0) == 0xA0 &&
        (byte(2) & 0xC0) == 0x80) {
      step = {0xD000u | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu), 3};
    } else if (step.length == 0) {
      step = {kReplacementCharacter, 1};
    }
    AppendWide(out, step.code);
    text.remove_prefix(step.length);
  }
  return out;
}

}  // namespace op::windows

namespace op {

std::u32string FromCodePage(std::string_view text) {
  const int length = windows::Length(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(units, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  return windows::CodePointsFromWide(wide);
}

// What the code page lacks becomes '?', never a look-alike: a comment typed as "Łukasz" must not
// turn into "Lukasz" unseen. Only a UTF-8 code page holds characters past U+FFFF; any other would
// turn the pair's two halves into two default characters.
std::string ToCodePage(std::u32string_view text) {
  const bool utf8 = GetACP() == CP_UTF8;
  std::wstring wide;
  for (const char32_t code : text) {
    const bool lacking = code > 0x10FFFF || (code > 0xFFFF && !utf8);
    windows::AppendWide(wide, lacking ? kReplacementCharacter : code);
  }
  // UTF-8 holds every character and takes neither the flag nor a default.
  return utf8 ? windows::CodePageFromWide(wide)
              : windows::AnsiFromWide(wide, WC_NO_BEST_FIT_CHARS, "?");
}

// Names travel as UTF-8; the screen shows them in the code page.
std::string FromSystemText(std::string_view text) {
  return ToCodePage(windows::CodePointsFromWide(windows::WideFromUtf8(text)));
}

}  // namespace op
