// The seam to the system's 8-bit code page, in which the tools hold all text; cells hold Unicode.
#pragma once

#include <string>
#include <string_view>

namespace op {

std::u32string FromCodePage(std::string_view text);
// A character the code page cannot represent becomes '?'.
std::string ToCodePage(std::u32string_view text);
// Text as the system spells it (file names, a helper's message: locale bytes on POSIX, UTF-8 on
// Windows) as code-page text for the screen.
std::string FromSystemText(std::string_view text);

}  // namespace op
