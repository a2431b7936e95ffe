// The seam to the system clipboard.
#pragma once

#include <string>

namespace op {

struct ClipboardText {
  // The clipboard's text in the 8-bit code page, cut at its first zero; empty when it holds none.
  std::string text;
  // Why the clipboard could not be read, for the user: an unread one must not pass for empty.
  std::string failure;
};

ClipboardText ReadClipboardText();

}  // namespace op
