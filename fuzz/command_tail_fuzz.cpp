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

// a..z raised, and the byte after C3 that makes ä ö ü é ñ å ç the one that
// makes their capital; every other byte as it was.
void CheckCapitals(std::string_view name) {
  static constexpr std::string_view kSmall = "\xA4\xB6\xBC\xA9\xB1\xA5\xA7";
  const std::string raised = op::RaiseToCapitals(name);
  CHECK(raised.size() == name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto before = static_cast<unsigned char>(name[i]);
    unsigned expected = before;
    if (before >= 'a' && before <= 'z') expected = before - 32;
    if (i > 0 && name[i - 1] == '\xC3' && kSmall.find(name[i]) != std::string_view::npos) {
      expected = before - 0x20;
    }
    CHECK(static_cast<unsigned char>(raised[i]) == expected);
  }
  // Capitals stay capitals.
  CHECK(op::RaiseToCapitals(raised) == raised);
}

// Either the tail itself, or what is inside the quotes of "name" followed
// by nothing but spaces.
void CheckUnquoted(std::string_view tail) {
  const std::string_view name = op::UnquotedName(tail);
  if (name.data() == tail.data() && name.size() == tail.size()) return;
  CHECK(name.data() == tail.data() + 1 && name.find('"') == std::string_view::npos);
  CHECK(tail.front() == '"' && tail[name.size() + 1] == '"');
  CHECK(tail.find_first_not_of(' ', name.size() + 2) == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string line;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    line.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  }
  CheckTail(line);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckCapitals(bytes);
  CheckUnquoted(bytes);

  // No name means the default one; any other is used as given here.
  const std::string chosen = op::ChooseInputName(bytes);
  CHECK(bytes.empty() ? chosen == op::kDefaultInputName
                      : chosen == op::PlatformInputName(bytes));
  return 0;
}
