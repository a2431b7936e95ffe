// Turns the bytes a terminal sends for keys into key events: the line editor never sees an ESC.
#pragma once

#include <cstddef>
#include <string_view>

#include "../console_device.h"

namespace op {

struct DecodedKey {
  KeyEvent event;
  std::size_t consumed = 0;  // 0: the bytes are the start of a longer sequence
};

// Decodes the first key at the start of `bytes` (not empty). With `complete` false, a sequence
// that may go on yields consumed == 0; with it true (no more bytes within the short wait) what is
// there is decoded as it stands, so a lone ESC is the Escape key.
DecodedKey DecodeKey(std::string_view bytes, bool complete);

}  // namespace op
