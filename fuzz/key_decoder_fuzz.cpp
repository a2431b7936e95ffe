// Key decoding over arbitrary terminal input, whole and in two pieces.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "posix/key_decoder.h"
#include "check.h"

namespace {

using Kind = op::KeyEvent::Kind;

struct Decoded {
  op::KeyEvent event;
  std::size_t consumed;
  bool operator==(const Decoded& other) const {
    return event.kind == other.event.kind && event.character == other.event.character &&
           event.altLetter == other.event.altLetter && consumed == other.consumed;
  }
};

// One call, with the checks that hold for every call.
op::DecodedKey Decode(std::string_view bytes, bool complete) {
  const op::DecodedKey key = op::DecodeKey(bytes, complete);
  CHECK(key.consumed <= bytes.size());
  if (complete) CHECK(key.consumed > 0);
  if (key.consumed == 0) return key;
  CHECK(key.event.kind != Kind::Closed);
  if (key.event.kind == Kind::Character) {
    const char32_t c = key.event.character;
    CHECK(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF));
    CHECK(c != 0x7F);  // Backspace comes as 8
  } else {
    CHECK(key.event.character == 0);
    CHECK(!key.event.altLetter);
  }
  // Once the bytes decide the key, waiting longer changes nothing.
  if (!complete) {
    const op::DecodedKey settled = op::DecodeKey(bytes, true);
    CHECK((Decoded{settled.event, settled.consumed} == Decoded{key.event, key.consumed}));
  }
  return key;
}

// As the terminal does it: decode while the bytes decide a key; when they
// may go on, wait for more and, once `more` is used up, take them as they
// stand. Returns the keys, each with the bytes it took.
std::vector<Decoded> DecodeAll(std::string_view first, std::string_view more) {
  std::string buffer(first);
  std::vector<Decoded> keys;
  const std::size_t total = first.size() + more.size();
  std::size_t taken = 0;
  bool moreArrived = more.empty();
  // Every round takes at least one byte or the rest of the input arrives.
  for (std::size_t round = 0; round <= 2 * total + 2; ++round) {
    if (buffer.empty()) {
      if (moreArrived) break;
      buffer.append(more);
      moreArrived = true;
      continue;
    }
    op::DecodedKey key = Decode(buffer, false);
    if (key.consumed == 0) {
      if (!moreArrived) {
        buffer.append(more);
        moreArrived = true;
        continue;
      }
      key = Decode(buffer, true);
    }
    keys.push_back({key.event, key.consumed});
    buffer.erase(0, key.consumed);
    taken += key.consumed;
  }
  CHECK(buffer.empty() && moreArrived);
  CHECK(taken == total);
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;

  const std::vector<Decoded> whole = DecodeAll(input, {});

  // The same bytes arriving in two reads, the split chosen by the first byte.
  const std::size_t split = data[0] % (size + 1);
  const std::vector<Decoded> pieces = DecodeAll(input.substr(0, split), input.substr(split));
  CHECK(pieces == whole);
  return 0;
}
