// The clipboard on Linux, macOS and WSL, read the way terminal programs do:
// through the desktop's standard clipboard helper, started directly, with a
// time limit, since some helpers hang when the copying program has quit.
#include "../clipboard.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "helper_process.h"
#include "windows_1252.h"

namespace op {
namespace {

constexpr std::chrono::milliseconds kHelperLimit{2000};

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool RunningUnderWsl() {
  std::ifstream version("/proc/version");
  const std::string text{std::istreambuf_iterator<char>(version), {}};
  return text.find("icrosoft") != std::string::npos;
}

// The helpers to try, in order; the next one is tried only when one is
// missing or fails.
std::vector<std::vector<std::string>> Helpers() {
  std::vector<std::vector<std::string>> helpers;
#ifdef __APPLE__
  helpers.push_back({"pbpaste"});
#endif
  if (Set("WAYLAND_DISPLAY")) {
    helpers.push_back({"wl-paste", "--no-newline", "--type", "text"});
  }
  if (Set("DISPLAY")) {
    helpers.push_back({"xclip", "-selection", "clipboard", "-out", "-target", "UTF8_STRING"});
    helpers.push_back({"xsel", "--clipboard", "--output"});
  }
  if (RunningUnderWsl()) {
    // Raw keeps the text's own CRLFs; the output encoding makes it UTF-8.
    helpers.push_back({"powershell.exe", "-NoProfile", "-NoLogo", "-NonInteractive", "-Command",
                       "[Console]::OutputEncoding=[Text.Encoding]::UTF8; Get-Clipboard -Raw"});
  }
  return helpers;
}

}  // namespace

std::string ReadClipboardText() {
  for (const auto& helper : Helpers()) {
    HelperResult result = RunHelper(helper, kHelperLimit);
    if (result.outcome == HelperResult::Outcome::TimedOut) break;
    if (result.outcome != HelperResult::Outcome::Succeeded) continue;
    result.output.resize(result.output.find('\0') == std::string::npos
                             ? result.output.size()
                             : result.output.find('\0'));
    return Utf8ToWindows1252(result.output);
  }
  return {};
}

}  // namespace op
