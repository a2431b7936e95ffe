// The seam to the system clipboard.
#pragma once

#include <string>

namespace op {

// The clipboard's current text in the 8-bit code page, cut at its first zero
// character; the empty text whenever no text can be had. Never fails.
std::string ReadClipboardText();

}  // namespace op
