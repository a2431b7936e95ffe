// The command line of opfile, and how its tail becomes the input file name.
#pragma once

#include <string>
#include <string_view>

namespace op {

inline constexpr std::string_view kDefaultInputName = "OpBits.txt";

// What follows the program's name, as the system spells names: locale bytes, UTF-8 on Windows.
std::string CommandTail(int argc, char** argv);

// The command tail cut off a single command-line text: a quoted program name ends at the next
// double quote, a bare one at the first character of code 32 or less; the spaces after it are
// skipped and the rest stays as it is.
std::u16string_view TailOfCommandLine(std::u16string_view commandLine);

// Raises a..z and ä ö ü é ñ å ç of a UTF-8 name to capitals; every other character stays.
std::string RaiseToCapitals(std::string_view name);

// The name inside a tail that is one name in double quotes (trailing spaces aside); else the tail.
std::string_view UnquotedName(std::string_view commandTail);

// The input name as the platform uses it: raised on case-blind systems.
std::string PlatformInputName(std::string_view commandTail);
// OpBits.txt for an empty tail, otherwise the tail as the platform uses it.
std::string ChooseInputName(std::string_view commandTail);

}  // namespace op
