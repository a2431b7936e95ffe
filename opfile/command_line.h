// The command line of opfile, and how its tail becomes the input file name.
#pragma once

#include <string>
#include <string_view>

namespace op {

inline constexpr std::string_view kDefaultInputName = "OpBits.txt";

// What follows the program's own name, in the platform's 8-bit text.
std::string CommandTail(int argc, char** argv);

// The command tail with the part after the program's name cut off the
// platform's single command-line text: a quoted name ends at the next
// double quote, a bare one at the first character of code 32 or less; the
// spaces after it are skipped and the rest stays as it is.
std::u16string_view TailOfCommandLine(std::u16string_view commandLine);

// Raises letters to capitals byte by byte: a..z, and the accented letters
// of code page 437 when `codePage437` is set.
std::string RaiseToCapitals(std::string_view name, bool codePage437);

// The input name as the platform uses it: raised on case-blind systems.
std::string PlatformInputName(std::string_view commandTail);

// OpBits.txt for an empty tail, otherwise the tail as the platform uses it.
std::string ChooseInputName(std::string_view commandTail);

}  // namespace op
