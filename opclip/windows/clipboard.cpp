// The Windows clipboard, read as Unicode text so that the system converts
// from whatever format the copying program put there.
#include "../clipboard.h"

#include <windows.h>

#include <algorithm>

#include "windows/wide_text.h"

namespace op {

std::string ReadClipboardText() {
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return {};
  if (!OpenClipboard(nullptr)) return {};
  const HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) {
    CloseClipboard();
    return {};
  }
  const auto* units = static_cast<const wchar_t*>(GlobalLock(data));
  if (units == nullptr) {
    CloseClipboard();
    return {};
  }
  // The text ends at its first zero, or with the memory block if the
  // copying program left that out.
  const wchar_t* end = units + GlobalSize(data) / sizeof(wchar_t);
  const std::wstring text(units, std::find(units, end, L'\0'));
  GlobalUnlock(data);
  CloseClipboard();
  return windows::CodePageFromWide(text);
}

}  // namespace op
