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

std::string RaiseToCapitals(std::string_view name, bool codePage437) {
  // Pairs of code page 437: ä, ö, ü, é, ñ, å, ç and their capitals.
  static constexpr unsigned char kAccented[][2] = {
      {132, 142}, {148, 153}, {129, 154}, {130, 144}, {164, 165}, {134, 143}, {135, 128},
  };
  std::string raised(name);
  for (char& c : raised) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= 'z') {
      c = static_cast<char>(byte - 32);
      continue;
    }
    if (!codePage437) continue;
    for (const auto& pair : kAccented) {
      if (byte == pair[0]) c = static_cast<char>(pair[1]);
    }
  }
  return raised;
}

std::string ChooseInputName(std::string_view commandTail) {
  if (commandTail.empty()) return std::string(kDefaultInputName);
  return PlatformInputName(commandTail);
}

}  // namespace op
