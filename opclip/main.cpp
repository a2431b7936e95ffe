#include "clipboard.h"
#include "clipboard_session.h"
#include "console_device.h"
#include "file_system.h"
#include "standard_options.h"
#include "text_console.h"

namespace {

constexpr char kUsage[] = R"(Usage: opclip
Turns a text of 0 and 1 characters on the clipboard, the bit sequence of an
OPERA beacon, into the assembler include file OpSymbs.inc.

Reads the clipboard (through xclip, xsel or wl-paste on Linux), shows the
text, and asks whether to go on when it holds anything but 0, 1, spaces,
line breaks and punctuation. Asks for a comment line (your callsign, say),
shows the bits and writes OpSymbs.inc into the current directory. An older
OpSymbs.inc is replaced only once the new one is complete.

Exit status: 0 when OpSymbs.inc was written, and after an abort; 1 when the
clipboard could not be read, OpSymbs.inc could not be written, or the
terminal closed before a question was answered.

More in the manual page: man opclip
)";

}  // namespace

// Any other command line is ignored.
int main(int argc, char** argv) {
  if (const auto status = op::AnswerStandardOption(argc, argv, "opclip", kUsage)) return *status;
  auto device = op::MakePlatformConsole();
  auto files = op::MakePlatformFileSystem();
  op::TextConsole console(*device);
  console.Open();
  const int status = op::ClipboardSession(console, *files, op::ReadClipboardText);
  console.Close();
  return status;
}
