// The system's own words for an error code, as the user reads them.
#pragma once

#include <string>

namespace op::windows {

// The message for a GetLastError() code in the ANSI code page, without the
// trailing full stop and line break: "Access is denied".
std::string SystemMessage(unsigned long code);

}  // namespace op::windows
