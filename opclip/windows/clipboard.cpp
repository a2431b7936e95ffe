// The Windows clipboard, read as Unicode text so that the system converts
// from whatever format the copying program put there.
#include "../clipboard.h"

#include <windows.h>

#include <algorithm>

#include "windows/wide_text.h"

namespace op {
namespace {

// Other programs (clipboard viewers, remote desktops) open the clipboard
// for a moment now and then; only one that keeps it is "in use".
constexpr int kOpenAttempts = 10;
constexpr DWORD kOpenPause = 20;  // milliseconds

bool OpenTheClipboard() {
  for (int attempt = 1;; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    if (attempt == kOpenAttempts) return false;
    Sleep(kOpenPause);
  }
}

}  // namespace

// No text on the clipboard is an empty text; a clipboard that cannot be
// read is a failure, which must not pass for an empty one. Whether there
// is text is asked only once the clipboard is open, so the answer holds for
// what is read.
ClipboardText ReadClipboardText() {
  if (!OpenTheClipboard()) return {{}, "Clipboard not read: in use by another program"};
  ClipboardText result;
  if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* units = data == nullptr ? nullptr : static_cast<const wchar_t*>(GlobalLock(data));
    if (units == nullptr) {
      result.failure = "Clipboard not read: its text cannot be reached";
    } else {
      // The text ends at its first zero, or with the memory block if the
      // copying program left that out.
      const wchar_t* end = units + GlobalSize(data) / sizeof(wchar_t);
      result.text = windows::CodePageFromWide(std::wstring(units, std::find(units, end, L'\0')));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return result;
}

}  // namespace op
