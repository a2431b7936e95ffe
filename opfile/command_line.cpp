#include "command_line.h"

namespace op {

std::u16string_view TailOfCommandLine(std::u16string_view line) {
  std::size_t at = 0;
  if (!line.empty() && line[0] == u'"') {
    const auto close = line.find(u'"', 1);
    at = close == std::u16string_view::npos ? line.size() : close + 1;
  } else {
    while (at < line.size() && line[at] > 32) ++at;
  }
  while (at < line.size() && line[at] == u' ') ++at;
  return line.substr(at);
}

// In UTF-8 the bytes a..z are never part of another character, and the seven accented letters are
// C3 followed by the byte 0x20 above their capital's.
std::string RaiseToCapitals(std::string_view name) {
  static constexpr std::string_view kAccentedSmall = "\xA4\xB6\xBC\xA9\xB1\xA5\xA7";
  std::string raised(name);
  for (std::size_t i = 0; i < raised.size(); ++i) {
    const auto byte = static_cast<unsigned char>(raised[i]);
    if (byte >= 'a' && byte <= 'z') {
      raised[i] = static_cast<char>(byte - 0x20);
    } else if (byte == 0xC3 && i + 1 < raised.size() &&
               kAccentedSmall.find(raised[i + 1]) != std::string_view::npos) {
      raised[++i] -= 0x20;
    }
  }
  return raised;
}

std::string_view UnquotedName(std::string_view commandTail) {
  const std::size_t last = commandTail.find_last_not_of(' ');
  if (last == std::string_view::npos || last == 0 || commandTail.front() != '"' ||
      commandTail[last] != '"') {
    return commandTail;
  }
  const std::string_view inside = commandTail.substr(1, last - 1);
  return inside.find('"') == std::string_view::npos ? inside : commandTail;
}

std::string ChooseInputName(std::string_view commandTail) {
  if (commandTail.empty()) return std::string(kDefaultInputName);
  return PlatformInputName(commandTail);
}

}  // namespace op
