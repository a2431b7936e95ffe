// The command tail cut from a whole command line, and raising to capitals.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "command_line.h"
#include "check.h"

namespace {

void CheckTail(std::u16string_view line) {
  const std::u16string_view tail = op::TailOfCommandLine(line);
  CHECK(tail.size() <= line.size());
  // A suffix of the line itself, not a copy.
  CHECK(tail.data() + tail.size() == line.data() + line.size());
  CHECK(tail.empty() || tail.front() != u' ');

  // What was cut off: the program's name, then spaces.
  std::u16string_view name = line.substr(0, line.size() - tail.size());
  while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
  if (!line.empty() && line.front() == u'"') {
    // A quoted name: the quote, anything but a quote, the closing quote
    // unless the line ended first.
    CHECK(!name.empty() && name.front() == u'"');
    const std::u16string_view inside = name.substr(1);
    const std::size_t close = inside.find(u'"');
    if (close == std::u16string_view::npos) {
      CHECK(tail.empty());
    } else {
      CHECK(close + 1 == inside.size());
    }
  } else {
    // A bare name: characters above 32 up to the first one that is not.
    for (const char16_t c : name) CHECK(c > 32);
    const std::u16string_view after = line.substr(name.size());
    CHECK(after.empty() || after.front() <= 32);
  }
}

void CheckCapitals(std::string_view name, bool codePage437) {
  static constexpr unsigned char kLower[] = {132, 148, 129, 130, 164, 134, 135};
  static constexpr unsigned char kUpper[] = {142, 153, 154, 144, 165, 143, 128};
  const std::string raised = op::RaiseToCapitals(name, codePage437);
  CHECK(raised.size() == name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto before = static_cast<unsigned char>(name[i]);
    const auto after = static_cast<unsigned char>(raised[i]);
    unsigned expected = before;
    if (before >= 'a' && before <= 'z') expected = before - 32;
    if (codePage437) {
      for (std::size_t k = 0; k < sizeof kLower; ++k) {
        if (before == kLower[k]) expected = kUpper[k];
      }
    }
    CHECK(after == expected);
  }
  // Capitals stay capitals.
  CHECK(op::RaiseToCapitals(raised, codePage437) == raised);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string line;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    line.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  }
  CheckTail(line);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckCapitals(bytes, false);
  CheckCapitals(bytes, true);

  // No name means the default one; any other is used as given here.
  const std::string chosen = op::ChooseInputName(bytes);
  CHECK(bytes.empty() ? chosen == op::kDefaultInputName
                      : chosen == op::PlatformInputName(bytes));
  return 0;
}
