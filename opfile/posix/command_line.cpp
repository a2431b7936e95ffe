// POSIX hands the arguments over one by one: joined with single spaces they give the tail of an
// unquoted command line, kept in the platform's bytes since it only ever reaches the file system.
#include "../command_line.h"

namespace op {

std::string CommandTail(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail.push_back(' ');
    tail.append(argv[i]);
  }
  return tail;
}

// Names are case-sensitive here: raising bits.txt to BITS.TXT would miss it.
std::string PlatformInputName(std::string_view commandTail) { return std::string(commandTail); }

}  // namespace op
