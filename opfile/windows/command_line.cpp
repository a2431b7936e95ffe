// Windows hands a program its command line as one text; the tail is cut
// from it as it stands, quotes and runs of spaces kept, so no argument
// splitting of the runtime's changes the name the user typed.
#include "../command_line.h"

#include <windows.h>

#include "windows/wide_text.h"

namespace op {

std::string CommandTail(int, char**) {
  const std::wstring_view line = GetCommandLineW();
  const std::u16string whole(line.begin(), line.end());
  const std::u16string_view tail = TailOfCommandLine(whole);
  return windows::CodePageFromWide(std::wstring(tail.begin(), tail.end()));
}

// Names are matched without regard to case here; the raised name is the
// one the file system and the user see.
std::string PlatformInputName(std::string_view commandTail) {
  return RaiseToCapitals(commandTail, GetACP() == 437);
}

}  // namespace op
