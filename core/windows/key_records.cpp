#include "key_records.h"

#include <algorithm>

#include "../utf8.h"
#include "wide_text.h"

namespace op::windows {
namespace {

using Kind = KeyEvent::Kind;

// Scan codes of a PC keyboard's three letter rows (Q to ], A to ', \ to /), whatever the layout.
bool OnLetterRows(WORD scan) {
  return (scan >= 0x10 && scan <= 0x1B) || (scan >= 0x1E && scan <= 0x28) ||
         (scan >= 0x2B && scan <= 0x35);
}

bool IsSpecialKey(WORD key) {
  return (key >= VK_PRIOR && key <= VK_DOWN) || key == VK_INSERT || key == VK_DELETE ||
         (key >= VK_F1 && key <= VK_F24);
}

}  // namespace

KeyEvent KeyRecordReader::Next() {
  const KeyEvent event = runs_.front().event;
  if (--runs_.front().count == 0) runs_.pop_front();
  return event;
}

void KeyRecordReader::DropHighSurrogate() {
  if (high_ != 0) runs_.push_back({{Kind::Character, kReplacementCharacter, highAlt_}, 1});
  high_ = 0;
}

void KeyRecordReader::Take(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT) {
    runs_.push_back({{Kind::Other}, 1});  // mouse, window size, focus and menu events
    return;
  }
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  const WORD virtualKey = key.wVirtualKeyCode;
  char32_t unit = static_cast<char16_t>(key.uChar.UnicodeChar);
  // Wine's console gives Escape (and may give the other keys of a control character) with no
  // character at all; their virtual key codes are their characters.
  if (unit == 0 && key.bKeyDown &&
      (virtualKey == VK_ESCAPE || virtualKey == VK_RETURN || virtualKey == VK_BACK ||
       virtualKey == VK_TAB)) {
    unit = virtualKey;
  }
  // A character typed as Alt and number-pad digits comes with Alt's release; every other release
  // is no key, nor is Shift, Ctrl, Alt or a lock key alone.
  const bool composed = !key.bKeyDown && virtualKey == VK_MENU && unit != 0;
  if ((!key.bKeyDown && !composed) || (unit == 0 && !IsSpecialKey(virtualKey))) {
    runs_.push_back({{Kind::Other}, 1});
    return;
  }
  const unsigned repeats = std::max<unsigned>(key.wRepeatCount, 1);
  if (unit == 0) {
    DropHighSurrogate();
    runs_.push_back({{Kind::Special}, repeats});
    return;
  }
  const bool altLetter = !composed && OnLetterRows(key.wVirtualScanCode) &&
                         (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
  if (IsHighSurrogate(unit)) {
    DropHighSurrogate();
    high_ = unit;
    highAlt_ = altLetter;
    return;
  }
  char32_t code = unit;
  if (IsLowSurrogate(unit)) {
    code = high_ != 0 ? CombineSurrogates(high_, unit) : kReplacementCharacter;
    high_ = 0;
  } else {
    DropHighSurrogate();
  }
  runs_.push_back({{Kind::Character, code, altLetter}, repeats});
}

}  // namespace op::windows
