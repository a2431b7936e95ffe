// POSIX systems have no 8-bit system code page: Windows-1252 stands in, so
// the comment's bytes in the include file match a Western Windows machine.
#include "../code_page.h"

#include "windows_1252.h"
#include "locale_text.h"

namespace op {

std::u32string FromCodePage(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (const char byte : text) {
    out.push_back(Windows1252ToUnicode(static_cast<unsigned char>(byte)));
  }
  return out;
}

std::string ToCodePage(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t code : text) {
    const int byte = UnicodeToWindows1252(code);
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
  }
  return out;
}

std::string FromSystemText(std::string_view text) {
  return ToCodePage(locale_text::Decode(text));
}

}  // namespace op
