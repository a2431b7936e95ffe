#include "system_message.h"

#include <windows.h>

#include "wide_text.h"

namespace op::windows {

std::string SystemMessage(unsigned long code) {
  wchar_t text[512];
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     0, text, static_cast<DWORD>(std::size(text)), nullptr);
  std::string message = CodePageFromWide(std::wstring_view(text, length));
  while (!message.empty() &&
         (message.back() == '\r' || message.back() == '\n' || message.back() == '.' ||
          message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error " + std::to_string(code);
  return message;
}

}  // namespace op::windows
