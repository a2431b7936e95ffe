// The two options every Linux console tool answers: --help and --version.
#pragma once

#include <optional>
#include <string_view>

namespace op {

// When the command line is exactly `--help` or `--version` (POSIX only; on Windows it is always
// the input's name), prints the usage or the name and version on standard output and returns the
// exit status; otherwise nothing.
std::optional<int> AnswerStandardOption(int argc, char** argv, std::string_view program,
                                        std::string_view usage);

}  // namespace op
