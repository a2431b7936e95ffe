#include "bit_file_session.h"
#include "command_line.h"
#include "console_device.h"
#include "file_system.h"
#include "standard_options.h"
#include "text_console.h"

namespace {

constexpr char kUsage[] = R"(Usage: opfile [FILE]
Turns a text of 0 and 1 characters, the bit sequence of an OPERA beacon,
into the assembler include file OpSymbs.inc.

Reads the bits from FILE, or from OpBits.txt in the current directory when
no FILE is named; every byte that is not 0 or 1 is skipped. Asks for a
comment line (your callsign, say), shows the bits and writes OpSymbs.inc
into the current directory. An older OpSymbs.inc is replaced only once the
new one is complete.

Exit status: 0 when OpSymbs.inc was written, and after "No File"; 1 when
the input could not be read, OpSymbs.inc could not be written, or the
terminal closed before the comment was entered.

A file named --help or --version is read as ./--help or ./--version.
More in the manual page: man opfile
)";

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = op::AnswerStandardOption(argc, argv, "opfile", kUsage)) return *status;
  auto device = op::MakePlatformConsole();
  auto files = op::MakePlatformFileSystem();
  op::TextConsole console(*device);
  console.Open();
  const int status = op::BitFileSession(console, *files, op::CommandTail(argc, argv));
  console.Close();
  return status;
}
