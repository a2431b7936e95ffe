// Between the 8-bit ANSI code page, in which the tools hold their text, and
// the UTF-16 text of the wide Windows calls.
#pragma once

#include <string>
#include <string_view>

namespace op::windows {

std::wstring WideFromCodePage(std::string_view text);
// A character the code page lacks becomes the code page's own default
// character (or its best fit, as Windows chooses).
std::string CodePageFromWide(std::wstring_view text);

}  // namespace op::windows
