// The Windows clipboard, read as Unicode text so the system converts from any format put there.
#include "../clipboard.h"

#include <windows.h>

#include <algorithm>

#include "windows/wide_text.h"

namespace op {

// Whether there is text is asked only once the clipboard is open, so the answer holds.
ClipboardText ReadClipboardText() {
  // Others (clipboard viewers, remote desktops) open the clipboard for a moment now and then;
  // only one that keeps it through ten tries 20 ms apart is "in use".
  for (int attempt = 1; !OpenClipboard(nullptr); ++attempt) {
    if (attempt == 10) return {{}, "Clipboard not read: in use by another program"};
    Sleep(20);
  }
  ClipboardText result;
  if (IsClipboardFormatAvailable(CF_UNICODETEXT)) {
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* units = data == nullptr ? nullptr : static_cast<const wchar_t*>(GlobalLock(data));
    if (units == nullptr) {
      result.failure = "Clipboard not read: its text cannot be reached";
    } else {
      // The text ends at its first zero, or with the memory block if the copier left that out.
      const wchar_t* end = units + GlobalSize(data) / sizeof(wchar_t);
      result.text = windows::CodePageFromWide({units, std::find(units, end, L'\0')});
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return result;
}

}  // namespace op
