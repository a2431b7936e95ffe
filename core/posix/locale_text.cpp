#include "locale_text.h"

#include <langinfo.h>

#include <array>
#include <clocale>
#include <cstring>
#include <cwchar>

#include "../utf8.h"

namespace op::locale_text {
namespace {

struct Charset {
  bool utf8 = true;
  std::array<char32_t, 128> high{};  // bytes 0x80..0xFF of an 8-bit set

  Charset() {
    std::setlocale(LC_CTYPE, "");
    utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      const std::wint_t wide = std::btowc(byte);
      high[byte - 0x80] = wide == WEOF ? kReplacementCharacter : static_cast<char32_t>(wide);
    }
  }
};

const Charset& Locale() {
  static const Charset charset;
  return charset;
}

}  // namespace

bool IsUtf8() { return Locale().utf8; }

char32_t FromByte(unsigned char byte) {
  return byte < 0x80 ? byte : Locale().high[byte - 0x80];
}

void Append(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
    return;
  }
  if (IsUtf8()) {
    AppendUtf8(out, code);
    return;
  }
  for (int byte = 0xA0; byte <= 0xFF; ++byte) {
    if (Locale().high[byte - 0x80] == code) {
      out.push_back(static_cast<char>(byte));
      return;
    }
  }
  out.push_back('?');
}

std::u32string Decode(std::string_view bytes) {
  if (IsUtf8()) return FromUtf8(bytes);
  std::u32string out;
  std::mbstate_t state{};
  while (!bytes.empty()) {
    wchar_t wide = 0;
    const std::size_t used = std::mbrtowc(&wide, bytes.data(), bytes.size(), &state);
    if (used == 0 || used > bytes.size()) {  // a zero, or an invalid or cut-short sequence
      out.push_back(used == 0 ? U'\0' : kReplacementCharacter);
      state = {};
      bytes.remove_prefix(1);
      continue;
    }
    out.push_back(static_cast<char32_t>(wide));
    bytes.remove_prefix(used);
  }
  return out;
}

}  // namespace op::locale_text
