#include "key_records.h"

#include <algorithm>

#include "../utf8.h"
#include "wide_text.h"

namespace op::windows {
namespace {

using Kind = KeyEvent::Kind;

// Scan codes of the three letter rows of a PC keyboard: Q to ], A to ',
// \ to /, whatever the layout prints on the keys.
bool OnLetterRows(WORD scanCode) {
  return (scanCode >= 0x10 && scanCode <= 0x1B) || (scanCode >= 0x1E && scanCode <= 0x28) ||
         (scanCode >= 0x2B && scanCode <= 0x35);
}

bool IsSpecialKey(WORD virtualKey) {
  return (virtualKey >= VK_PRIOR && virtualKey <= VK_DOWN) || virtualKey == VK_INSERT ||
         virtualKey == VK_DELETE || (virtualKey >= VK_F1 && virtualKey <= VK_F24);
}

// Wine's console gives Escape (and may give the other keys of a control
// character) with no character at all: the key stands for its character.
char32_t ControlCharacterOf(WORD virtualKey) {
  switch (virtualKey) {
    case VK_ESCAPE: return 27;
    case VK_RETURN: return 13;
    case VK_BACK: return 8;
    case VK_TAB: return 9;
    default: return 0;
  }
}

bool AltHeld(const KEY_EVENT_RECORD& key) {
  return (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
}

}  // namespace

void KeyRecordReader::Take(const INPUT_RECORD& record) {
  if (record.EventType == KEY_EVENT) {
    TakeKey(record.Event.KeyEvent);
  } else {
    Add({Kind::Other}, 1);  // mouse, window size, focus and menu events
  }
}

KeyEvent KeyRecordReader::Next() {
  const KeyEvent event = runs_.front().event;
  if (--runs_.front().count == 0) runs_.pop_front();
  return event;
}

void KeyRecordReader::Add(KeyEvent event, unsigned count) { runs_.push_back({event, count}); }

void KeyRecordReader::DropHighSurrogate() {
  if (high_ == 0) return;
  Add({Kind::Character, kReplacementCharacter, highAlt_}, 1);
  high_ = 0;
}

void KeyRecordReader::TakeKey(const KEY_EVENT_RECORD& key) {
  char32_t unit = static_cast<char16_t>(key.uChar.UnicodeChar);
  if (unit == 0 && key.bKeyDown) unit = ControlCharacterOf(key.wVirtualKeyCode);
  const unsigned repeats = std::max<unsigned>(key.wRepeatCount, 1);
  // A character typed as Alt and digits on the number pad comes with the
  // release of Alt; every other release is no key.
  const bool composed = !key.bKeyDown && key.wVirtualKeyCode == VK_MENU && unit != 0;
  if (!key.bKeyDown && !composed) {
    Add({Kind::Other}, 1);
    return;
  }
  if (unit == 0) {
    if (IsSpecialKey(key.wVirtualKeyCode)) {
      DropHighSurrogate();
      Add({Kind::Special}, repeats);
    } else {
      Add({Kind::Other}, 1);  // Shift, Ctrl, Alt and the lock keys alone
    }
    return;
  }
  const bool altLetter = !composed && AltHeld(key) && OnLetterRows(key.wVirtualScanCode);
  if (IsHighSurrogate(unit)) {
    DropHighSurrogate();
    high_ = unit;
    highAlt_ = altLetter;
    return;
  }
  char32_t code = unit;
  if (IsLowSurrogate(unit)) {
    if (high_ != 0) {
      code = CombineSurrogates(high_, code);
      high_ = 0;
    } else {
      code = kReplacementCharacter;
    }
  } else {
    DropHighSurrogate();
  }
  Add({Kind::Character, code, altLetter}, repeats);
}

}  // namespace op::windows
