// Keys decoded as the terminal does (an undecided one waits for more) are the same whole or split; decided ones stay.
#include <vector>

#include "posix/key_decoder.h"

static std::u32string Id(const op::DecodedKey& k) { return {char32_t(k.event.kind), k.event.character, k.event.altLetter, char32_t(k.consumed)}; }

static std::vector<std::u32string> Keys(std::string bytes, std::string_view rest) {
  std::vector<std::u32string> keys;
  while (!bytes.empty() || !rest.empty()) {
    const op::DecodedKey key = bytes.empty() ? op::DecodedKey{} : op::DecodeKey(bytes, false), last = op::DecodeKey(bytes + std::string(rest), true);
    if (key.consumed == 0 && !rest.empty()) bytes += rest, rest = {};
    else if (last.consumed == 0 || last.consumed > bytes.size() || (key.consumed != 0 && Id(key) != Id(last))) __builtin_trap();
    else keys.push_back(Id(last)), bytes.erase(0, last.consumed);
  }
  return keys;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
  if (Keys(std::string(input), {}) != Keys(std::string(input.substr(0, split)), input.substr(split))) __builtin_trap();
  return 0;
}
