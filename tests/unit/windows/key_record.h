// A console key event as Windows delivers it, for tests of the keyboard.
#pragma once

#include <windows.h>

namespace op::testing {

inline INPUT_RECORD Key(bool down, WORD virtualKey, WORD scanCode, wchar_t character,
                        DWORD controlKeys = 0, WORD repeats = 1) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down;
  record.Event.KeyEvent.wRepeatCount = repeats;
  record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
  record.Event.KeyEvent.wVirtualScanCode = scanCode;
  record.Event.KeyEvent.uChar.UnicodeChar = character;
  record.Event.KeyEvent.dwControlKeyState = controlKeys;
  return record;
}

}  // namespace op::testing
