// Turns the bytes a terminal sends for keys into key events, so the line
// editor never sees an escape byte.
#pragma once

#include <cstddef>
#include <string_view>

#include "../console_device.h"

namespace op {

struct DecodedKey {
  KeyEvent event;
  std::size_t consumed = 0;  // 0: the bytes are the start of a longer sequence
};

// Decodes the first key at the start of `bytes` (not empty). With `complete`
// false, a sequence that may go on yields consumed == 0; with `complete`
// true (no further byte came within the short wait) whatever is there is
// decoded as it stands, so a lone ESC is the Escape key.
DecodedKey DecodeKey(std::string_view bytes, bool complete);

}  // namespace op
