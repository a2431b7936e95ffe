#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace op {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

void AppendUtf8(std::string& out, char32_t code);

struct Utf8Step {
  char32_t code = 0;     // kReplacementCharacter for an invalid sequence
  std::size_t length = 0;  // bytes taken; 0 when the sequence is cut short
};

// Decodes the code point at the start of `bytes`. An invalid or overlong sequence, a surrogate or
// a value past U+10FFFF gives U+FFFD and takes one byte. A valid start cut off by the end of
// `bytes` gives length 0, so a caller can wait for the rest.
Utf8Step DecodeUtf8(std::string_view bytes);
// A whole text: every invalid or cut-short sequence becomes U+FFFD.
std::u32string FromUtf8(std::string_view bytes);

}  // namespace op
