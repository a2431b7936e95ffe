// The clipboard on Linux, macOS and WSL, read as terminal programs do: through the desktop's
// clipboard helper, run directly, with a time limit, as some hang once the copying program quit.
#include "../clipboard.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "code_page.h"
#include "helper_process.h"
#include "utf8.h"

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

// The helpers to try, in order; the next one is tried only when one is missing or fails.
std::vector<std::vector<std::string>> Helpers() {
  std::vector<std::vector<std::string>> helpers;
#ifdef __APPLE__
  helpers.push_back({"pbpaste"});
#endif
  if (Set("WAYLAND_DISPLAY")) helpers.push_back({"wl-paste", "--no-newline", "--type", "text"});
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

// What a helper says when the clipboard holds no text: an empty clipboard, not a failure.
bool SaysEmpty(const HelperResult& result) {
  for (const char* words : {"not available", "Nothing is copied", "No suitable type"}) {
    if (result.complaint.find(words) != std::string::npos) return true;
  }
  return false;
}

std::string WhyNot(const std::string& name, const HelperResult& result) {
  switch (result.outcome) {
    case HelperResult::Outcome::Missing:
      return name + " is not installed";
    case HelperResult::Outcome::TimedOut:
      return name + " did not answer within 2 s";
    case HelperResult::Outcome::TooLong:
      return name + " gave more than 256 MiB";
    default:
      return name + " failed: " +
             (result.complaint.empty() ? "exit status " + std::to_string(result.exitStatus)
                                       : FromSystemText(result.complaint));
  }
}

}  // namespace

ClipboardText ReadClipboardText() {
  const auto helpers = Helpers();
  if (helpers.empty()) return {{}, "No clipboard: neither DISPLAY nor WAYLAND_DISPLAY is set"};
  std::string reasons;
  bool anyInstalled = false;
  for (const auto& helper : helpers) {
    HelperResult result = RunHelper(helper, kHelperLimit);
    if (result.outcome == HelperResult::Outcome::Succeeded) {
      result.output.resize(std::min(result.output.find('\0'), result.output.size()));
      return {ToCodePage(FromUtf8(result.output)), {}};
    }
    if (result.outcome == HelperResult::Outcome::Failed && SaysEmpty(result)) return {};
    anyInstalled = anyInstalled || result.outcome != HelperResult::Outcome::Missing;
    reasons += (reasons.empty() ? "" : ", ") + WhyNot(helper.front(), result);
    // One that hangs is not followed by more waiting.
    if (result.outcome == HelperResult::Outcome::TimedOut) break;
  }
  if (!anyInstalled) return {{}, "No clipboard reader: install xclip, xsel or wl-clipboard"};
  return {{}, "Clipboard not read: " + reasons};
}

}  // namespace op
