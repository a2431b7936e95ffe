#include "utf8.h"

namespace op {

void AppendUtf8(std::string& out, char32_t code) {
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacementCharacter;
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
    return;
  }
  const int more = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;  // continuation bytes
  out.push_back(static_cast<char>((0xFF00 >> (more + 1) & 0xFF) | (code >> (6 * more))));
  for (int shift = 6 * (more - 1); shift >= 0; shift -= 6) {
    out.push_back(static_cast<char>(0x80 | ((code >> shift) & 0x3F)));
  }
}

Utf8Step DecodeUtf8(std::string_view bytes) {
  if (bytes.empty()) return {0, 0};
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  char32_t code;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return {kReplacementCharacter, 1};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= bytes.size()) return {0, 0};
    const auto next = static_cast<unsigned char>(bytes[i]);
    if ((next & 0xC0) != 0x80) return {kReplacementCharacter, 1};
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return {kReplacementCharacter, 1};
  }
  return {code, length};
}

std::u32string FromUtf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    Utf8Step step = DecodeUtf8(bytes);
    if (step.length == 0) step = {kReplacementCharacter, bytes.size()};
    out.push_back(step.code);
    bytes.remove_prefix(step.length);
  }
  return out;
}

}  // namespace op
