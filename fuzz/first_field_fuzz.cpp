// The first field of a typed answer, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "clipboard_session.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::string field = op::FirstField(line);

  CHECK(line.find(field) != std::string_view::npos);

  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    CHECK(field.empty());
    return 0;
  }
  std::string_view rest = line.substr(start);
  if (rest.front() == '"') {
    // Quoted: everything up to the closing quote or the end, as it stands.
    rest.remove_prefix(1);
    CHECK(field.find('"') == std::string::npos);
    CHECK(rest.substr(0, field.size()) == field);
    CHECK(field.size() == rest.size() || rest[field.size()] == '"');
    return 0;
  }
  // Unquoted: up to the first comma, without spaces at either end.
  CHECK(field.find(',') == std::string::npos);
  CHECK(field.empty() || (field.front() != ' ' && field.back() != ' '));
  CHECK(rest.substr(0, field.size()) == field);
  // Only spaces between the field and the comma or the end.
  const std::string_view after = rest.substr(field.size());
  const std::size_t end = after.find(',');
  CHECK(after.substr(0, end).find_first_not_of(' ') == std::string_view::npos);
  // An unquoted field is empty only when the answer starts with a comma.
  CHECK(!field.empty() || rest.front() == ',');
  return 0;
}
