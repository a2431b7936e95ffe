// BitFileSession: opfile's whole dialogue, from the overwrite notice to the final key press.
#pragma once

#include <string_view>

#include "file_system.h"
#include "text_console.h"

namespace op {

// Returns the exit status: 0, or 1 when the input could not be read, OpSymbs.inc could not be
// written, or the terminal closed during the question.
int BitFileSession(TextConsole& console, FileSystem& files, std::string_view commandTail);

}  // namespace op
