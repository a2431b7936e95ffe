// Windows-1252 and UTF-8 conversions on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "utf8.h"
#include "posix/windows_1252.h"
#include "check.h"

namespace {

bool IsScalarValue(char32_t code) {
  return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

void CheckDecodeSteps(std::string_view bytes) {
  while (!bytes.empty()) {
    const op::Utf8Step step = op::DecodeUtf8(bytes);
    CHECK(step.length <= 4);
    CHECK(step.length <= bytes.size());
    if (step.length == 0) {
      // Only a valid start cut short by the end waits for more.
      CHECK(bytes.size() < 4);
      const auto lead = static_cast<unsigned char>(bytes[0]);
      CHECK(lead >= 0xC2 && lead <= 0xF4);
      break;
    }
    CHECK(IsScalarValue(step.code));
    const bool invalid = step.code == op::kReplacementCharacter && step.length == 1;
    if (!invalid) {
      std::string again;
      op::AppendUtf8(again, step.code);
      CHECK(again == bytes.substr(0, step.length));
    }
    bytes.remove_prefix(step.length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Every byte stands for a character that maps back to the same byte.
  for (int byte = 0; byte < 256; ++byte) {
    CHECK(op::UnicodeToWindows1252(op::Windows1252ToUnicode(static_cast<unsigned char>(byte))) ==
          byte);
  }

  // UTF-8 to Windows-1252: one byte per character at most, each byte one
  // that stands for a character of its own.
  const std::string narrow = op::Utf8ToWindows1252(input);
  CHECK(narrow.size() <= input.size());
  for (const char c : narrow) {
    const auto byte = static_cast<unsigned char>(c);
    CHECK(op::UnicodeToWindows1252(op::Windows1252ToUnicode(byte)) == byte);
  }
  // Without a single '?' nothing was lost: the input was valid UTF-8 of
  // characters the set has, and converting back gives it again.
  if (narrow.find('?') == std::string::npos) {
    CHECK(op::Windows1252ToUtf8(narrow) == input);
  }

  // Any 8-bit text survives the trip through UTF-8.
  const std::string wide = op::Windows1252ToUtf8(input);
  CHECK(wide.size() >= input.size());
  CHECK(wide.size() <= 3 * input.size());
  CheckDecodeSteps(wide);
  CHECK(op::Utf8ToWindows1252(wide) == input);

  // Decoding the raw bytes step by step.
  CheckDecodeSteps(input);

  // Encoding a code point made from the input and decoding it again.
  if (size >= 4) {
    char32_t code = 0;
    for (int i = 0; i < 4; ++i) code = (code << 8) | data[i];
    code %= 0x110000;
    std::string encoded;
    op::AppendUtf8(encoded, code);
    const op::Utf8Step step = op::DecodeUtf8(encoded);
    CHECK(step.length == encoded.size());
    CHECK(step.code == (IsScalarValue(code) ? code : op::kReplacementCharacter));
  }
  return 0;
}
