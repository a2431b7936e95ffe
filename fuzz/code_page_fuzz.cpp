// UTF-8 and code page conversions on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "code_page.h"
#include "utf8.h"

namespace {

bool IsScalarValue(char32_t code) { return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF); }

std::string ToUtf8(std::u32string_view text) {
  std::string out;
  for (const char32_t code : text) op::AppendUtf8(out, code);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Decoded UTF-8 holds scalar values only; what decodes without a U+FFFD
  // encodes back to the very bytes.
  const std::u32string decoded = op::FromUtf8(input);
  CHECK(decoded.size() <= input.size());
  for (const char32_t code : decoded) CHECK(IsScalarValue(code));
  if (decoded.find(op::kReplacementCharacter) == std::u32string::npos) {
    CHECK(ToUtf8(decoded) == input);
  }

  // To the code page: one byte per character; without a '?' nothing was
  // lost and the way back gives the characters again.
  const std::string narrow = op::ToCodePage(decoded);
  CHECK(narrow.size() == decoded.size());
  if (narrow.find('?') == std::string::npos) CHECK(op::FromCodePage(narrow) == decoded);

  // Any 8-bit text survives the trip through code points and UTF-8.
  const std::u32string wide = op::FromCodePage(input);
  CHECK(op::ToCodePage(wide) == input);
  CHECK(op::ToCodePage(op::FromUtf8(ToUtf8(wide))) == input);
  return 0;
}
