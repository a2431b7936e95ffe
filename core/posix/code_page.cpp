// POSIX systems have no 8-bit system code page: Windows-1252 stands in, so
// the comment's bytes in the include file match a Western Windows machine.
#include "../code_page.h"

#include "locale_text.h"

namespace op {
namespace {

// The characters of bytes 0x80..0x9F (all others are Latin-1). The five undefined in Windows-1252
// stand for the C1 control of the same value, as Windows maps them.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char ByteOf(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == code) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::u32string FromCodePage(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out.push_back(byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : byte);
  }
  return out;
}

std::string ToCodePage(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t code : text) out.push_back(ByteOf(code));
  return out;
}

std::string FromSystemText(std::string_view text) { return ToCodePage(locale_text::Decode(text)); }

}  // namespace op
