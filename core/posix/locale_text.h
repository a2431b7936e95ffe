// The character set of the user's locale (LC_CTYPE), in which the terminal shows text and sends
// keys and the system spells names and messages: mostly UTF-8, on some an 8-bit set (ISO-8859-1).
#pragma once

#include <string>
#include <string_view>

namespace op::locale_text {

bool IsUtf8();
// The character a byte of 0x80 or more stands for in an 8-bit locale; U+FFFD if none on its own.
char32_t FromByte(unsigned char byte);
// Appends `code` as the terminal shows it: UTF-8, or the 8-bit set's byte, '?' where it has none.
// Never a byte 0x80..0x9F on an 8-bit terminal, which would take it for a C1 control.
void Append(std::string& out, char32_t code);
// Text in the locale's encoding as code points; U+FFFD for what is invalid.
std::u32string Decode(std::string_view bytes);

}  // namespace op::locale_text
