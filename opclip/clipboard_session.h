// ClipboardSession: opclip's whole dialogue, from the banner to the final key press.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "clipboard.h"
#include "file_system.h"
#include "text_console.h"

namespace op {

// True for a character of code 50 or more: anything but controls, space, punctuation to '/', 0, 1.
bool HasForeignCharacter(std::string_view text);

// The first field of a typed answer: leading spaces skipped; one in double quotes runs to the
// closing quote (or the end), any other to the first comma, trailing spaces removed.
std::string FirstField(std::string_view line);

// Returns the exit status: 0, or 1 when the clipboard could not be read,
// OpSymbs.inc could not be written or the terminal closed during a question.
int ClipboardSession(TextConsole& console, FileSystem& files,
                     const std::function<ClipboardText()>& readClipboard);

}  // namespace op
