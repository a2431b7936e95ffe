#include "../standard_options.h"

namespace op {

// Everything after the program's name is the input's name on Windows.
std::optional<int> AnswerStandardOption(int, char**, std::string_view, std::string_view) {
  return std::nullopt;
}

}  // namespace op
