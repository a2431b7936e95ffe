#include "../standard_options.h"

#include <cstdio>
#include <string>

namespace op {

std::optional<int> AnswerStandardOption(int argc, char** argv, std::string_view program,
                                        std::string_view usage) {
  if (argc != 2) return std::nullopt;
  const std::string_view option = argv[1];
  std::string text;
  if (option == "--help") {
    text = usage;
  } else if (option == "--version") {
    text = std::string(program) + " " + OP_VERSION + "\n";
  } else {
    return std::nullopt;
  }
  // Output that does not arrive (a full disk, a closed pipe) is a failure.
  const bool sent = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return std::fflush(stdout) == 0 && sent ? 0 : 1;
}

}  // namespace op
