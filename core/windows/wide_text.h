// Between the text the tools hold in std::string and the UTF-16 text of the
// wide Windows calls: the ANSI code page for what the screen and the file
// show, UTF-8 for names, which must reach the file system unchanged.
#pragma once

#include <string>
#include <string_view>

namespace op::windows {

std::wstring WideFromCodePage(std::string_view text);
// A character the code page lacks becomes the code page's own default
// character (or its best fit, as Windows chooses).
std::string CodePageFromWide(std::wstring_view text);
// A character the code page lacks becomes '?', never a look-alike.
std::string CodePageFromWideWithoutBestFit(std::wstring_view text);

// Names as UTF-8, more exactly WTF-8: a surrogate without its partner is
// spelled as the three bytes a character of its value would take, so that
// every UTF-16 text comes back unit for unit. Bytes that are no UTF-8
// become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

}  // namespace op::windows
