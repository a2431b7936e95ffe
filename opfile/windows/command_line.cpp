// The tail is cut from the command line as Windows holds it, quotes and runs of spaces kept, so no
// argument splitting of the runtime's changes the typed name. It stays UTF-8: in the ANSI code
// page a name could turn into another (Ł into L, a character it lacks into the wildcard '?').
#include "../command_line.h"

#include <windows.h>

#include "windows/wide_text.h"

namespace op {

std::string CommandTail(int, char**) {
  const std::wstring_view line = GetCommandLineW();
  const std::u16string whole(line.begin(), line.end());
  const std::u16string_view tail = TailOfCommandLine(whole);
  return windows::Utf8FromWide(std::wstring(tail.begin(), tail.end()));
}

// Names are matched without regard to case here; the raised name is the one the file system and
// the user see. A name cannot hold a double quote, so a quoted tail (from Tab completion or a
// file dropped on the program) means the name inside.
std::string PlatformInputName(std::string_view commandTail) {
  return RaiseToCapitals(UnquotedName(commandTail));
}

}  // namespace op
