#include "windows_1252.h"

#include "../utf8.h"

namespace op {
namespace {

// Bytes 0x80..0x9F; everything else is Latin-1.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char32_t Windows1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

int UnicodeToWindows1252(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == code) return 0x80 + i;
  }
  return -1;
}

std::string Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    // A stretch of ASCII, the common case, is the same in both.
    std::size_t ascii = 0;
    while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80) ++ascii;
    out.append(utf8.substr(0, ascii));
    utf8.remove_prefix(ascii);
    if (utf8.empty()) break;
    Utf8Step step = DecodeUtf8(utf8);
    if (step.length == 0) step = {kReplacementCharacter, utf8.size()};
    const int byte = UnicodeToWindows1252(step.code);
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
    utf8.remove_prefix(step.length);
  }
  return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char byte : bytes) {
    AppendUtf8(out, Windows1252ToUnicode(static_cast<unsigned char>(byte)));
  }
  return out;
}

}  // namespace op
