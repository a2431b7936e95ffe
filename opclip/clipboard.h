// The seam to the system clipboard.
#pragma once

#include <string>

namespace op {

struct ClipboardText {
  // The clipboard's current text in the 8-bit code page, cut at its first
  // zero character; empty when the clipboard holds no text.
  std::string text;
  // Why the clipboard could not be read at all, for the user; empty when
  // it was read. An unread clipboard must not pass for an empty one.
  std::string failure;
};

ClipboardText ReadClipboardText();

}  // namespace op
