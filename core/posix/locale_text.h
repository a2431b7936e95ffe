// The character set of the user's locale (LC_CTYPE): the terminal shows
// text and sends keys in it, and the system spells file names and messages
// in it. UTF-8 on most systems; an 8-bit set such as ISO-8859-1 on some.
#pragma once

#include <string>
#include <string_view>

namespace op::locale_text {

bool IsUtf8();
// The character a byte of 0x80 or more stands for in an 8-bit locale;
// U+FFFD where it stands for none on its own.
char32_t FromByte(unsigned char byte);
// Appends `code` as the terminal shows it: UTF-8, or the one byte of an
// 8-bit set, '?' where the set lacks it. Never a byte 0x80..0x9F on an
// 8-bit terminal, which would take it for a C1 control.
void Append(std::string& out, char32_t code);
// Text in the locale's encoding as code points; U+FFFD for what is invalid.
std::u32string Decode(std::string_view bytes);

}  // namespace op::locale_text
