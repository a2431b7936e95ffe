// Any bytes: UTF-8 decodes to scalar values and, when clean, back to the bytes; 8-bit text survives Unicode.

#include "code_page.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::u32string decoded = op::FromUtf8(input);
  std::string encoded;
  for (const char32_t c : decoded) c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? __builtin_trap() : op::AppendUtf8(encoded, c);
  const std::string narrow = op::ToCodePage(decoded);
  const bool clean = decoded.find(op::kReplacementCharacter) == std::u32string::npos, kept = narrow.find('?') == std::string::npos;
  if ((clean && encoded != input) || narrow.size() != decoded.size() || (kept && op::FromCodePage(narrow) != decoded)) __builtin_trap();
  if (op::ToCodePage(op::FromCodePage(input)) != input) __builtin_trap();
  return 0;
}
