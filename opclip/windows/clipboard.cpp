// The Windows clipboard, read as Unicode text so that the system converts
// from whatever format the copying program put there.
#include "../clipboard.h"

#include <windows.h>

#include <algorithm>

#include "windows/wide_text.h"

namespace op {

// No text on the clipboard is an empty text; a clipboard that holds text
// but cannot be read is a failure, which must not pass for an empty one.
ClipboardText ReadClipboardText() {
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return {};
  if (!OpenClipboard(nullptr)) return {{}, "Clipboard not read: in use by another program"};
  const HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) {
    CloseClipboard();
    return {};
  }
  const auto* units = static_cast<const wchar_t*>(GlobalLock(data));
  if (units == nullptr) {
    CloseClipboard();
    return {{}, "Clipboard not read: its text cannot be reached"};
  }
  // The text ends at its first zero, or with the memory block if the
  // copying program left that out.
  const wchar_t* end = units + GlobalSize(data) / sizeof(wchar_t);
  const std::wstring text(units, std::find(units, end, L'\0'));
  GlobalUnlock(data);
  CloseClipboard();
  return {windows::CodePageFromWide(text), {}};
}

}  // namespace op
