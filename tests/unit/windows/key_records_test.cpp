#include "windows/key_records.h"

#include <string>

#include <gtest/gtest.h>

namespace op::windows {
namespace {

constexpr char32_t kSpecial = 0xE000, kOther = 0xE001, kAlt = 0xE002;

INPUT_RECORD Key(BOOL down, WORD virtualKey, WORD scanCode, wchar_t character,
                 DWORD controlKeys = 0, WORD repeats = 1) {
  return {KEY_EVENT, {{down, repeats, virtualKey, scanCode, {character}, controlKeys}}};
}

// The events the records yield, in order: a character as itself (after kAlt
// when Alt was held on a letter row), a special key as kSpecial, any other
// event as kOther.
std::u32string Keys(std::initializer_list<INPUT_RECORD> records) {
  KeyRecordReader reader;
  std::u32string keys;
  for (const INPUT_RECORD& record : records) {
    reader.Take(record);
    while (reader.HasKey()) {
      const KeyEvent key = reader.Next();
      if (key.altLetter) keys += kAlt;
      keys += key.kind == KeyEvent::Kind::Character ? key.character
              : key.kind == KeyEvent::Kind::Special ? kSpecial
                                                    : kOther;
    }
  }
  return keys;
}

TEST(KeyRecords, EveryCharacterOfAKeyPressIsACharacter) {
  for (const wchar_t c : {L'a', L'Z', L'0', L' ', L'\u00E4', L'\u20AC', wchar_t{13}, wchar_t{8},
                          wchar_t{27}, wchar_t{3}, wchar_t{9}}) {
    EXPECT_EQ(Keys({Key(true, 0, 0, c)}), std::u32string(1, c)) << int(c);
  }
  // Wine gives these keys without their character; their virtual key codes
  // are their characters.
  for (const WORD vk : {VK_ESCAPE, VK_RETURN, VK_BACK, VK_TAB}) {
    EXPECT_EQ(Keys({Key(true, vk, 0, 0)}), std::u32string(1, vk)) << vk;
  }
}

TEST(KeyRecords, SpecialKeysAreTheNavigationAndFunctionKeys) {
  for (const WORD vk : {VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN,
                        VK_INSERT, VK_DELETE, VK_F1, VK_F12, VK_F13, VK_F24}) {
    EXPECT_EQ(Keys({Key(true, vk, 0, 0)}), std::u32string(1, kSpecial)) << vk;
  }
  // Modifier and lock keys alone and keys of no use here; releases, and
  // events that are no keys.
  for (const WORD vk : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_CAPITAL, VK_NUMLOCK, VK_SCROLL, VK_LWIN,
                        VK_CLEAR, VK_SELECT, VK_F24 + 1, VK_PAUSE}) {
    EXPECT_EQ(Keys({Key(true, vk, 0, 0)}), std::u32string(1, kOther)) << vk;
  }
  EXPECT_EQ(Keys({Key(false, 'A', 0x1E, L'a'), Key(false, VK_LEFT, 0x4B, 0), {MOUSE_EVENT, {}},
                  {WINDOW_BUFFER_SIZE_EVENT, {}}, {MENU_EVENT, {}}, {FOCUS_EVENT, {}}}),
            std::u32string(6, kOther));
}

TEST(KeyRecords, AltOnTheLetterRowsOnly) {
  // Alt, AltGr (right Alt with left Ctrl), Ctrl and Shift.
  const std::u32string alt{kAlt, U'x'};
  for (const WORD scan : {0x10, 0x1B, 0x1E, 0x28, 0x2B, 0x35}) {
    EXPECT_EQ(Keys({Key(true, 0, scan, L'x', LEFT_ALT_PRESSED),
                    Key(true, 0, scan, L'x', RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED),
                    Key(true, 0, scan, L'x', LEFT_CTRL_PRESSED | SHIFT_PRESSED)}),
              alt + alt + U'x')
        << scan;
  }
  // Digits, Tab, Enter, left Ctrl, the grave accent, left and right Shift, space.
  for (const WORD scan : {0x02, 0x0F, 0x1C, 0x1D, 0x29, 0x2A, 0x36, 0x39}) {
    EXPECT_EQ(Keys({Key(true, 0, scan, L'x', LEFT_ALT_PRESSED)}), U"x") << scan;
  }
}

TEST(KeyRecords, AHeldKeyRepeats) {
  // A count of 0 is one.
  EXPECT_EQ(Keys({Key(true, 'B', 0x30, L'b', 0, 4), Key(true, VK_UP, 0x48, 0, 0, 2),
                  Key(true, 'B', 0x30, L'b', 0, 0)}),
            std::u32string(U"bbbb") + kSpecial + kSpecial + U'b');
}

TEST(KeyRecords, SurrogatePairsMakeOneCharacter) {
  EXPECT_EQ(Keys({Key(true, VK_PACKET, 0, 0xD83D), Key(false, VK_PACKET, 0, 0xD83D),
                  Key(true, VK_PACKET, 0, 0xDE00), Key(false, VK_PACKET, 0, 0xDE00)}),
            (std::u32string{kOther, U'\U0001F600', kOther}));
  // Unpaired halves become U+FFFD; what came after them is kept.
  EXPECT_EQ(Keys({Key(true, 0, 0, 0xD83D), Key(true, 0, 0, L'x'), Key(true, 0, 0, 0xDE00),
                  Key(true, 0, 0, 0xD800), Key(true, 0, 0, 0xD801), Key(true, 0, 0, 0xDC00),
                  Key(true, 0, 0, 0xDBFF), Key(true, VK_HOME, 0, 0)}),
            std::u32string(U"\uFFFDx\uFFFD\uFFFD\U00010400\uFFFD") + kSpecial);
}

TEST(KeyRecords, ACharacterComposedOnTheNumberPadComesWithTheAltRelease) {
  EXPECT_EQ(Keys({Key(true, VK_MENU, 0x38, 0, LEFT_ALT_PRESSED),
                  Key(true, VK_NUMPAD1, 0x4F, 0, LEFT_ALT_PRESSED),
                  Key(false, VK_NUMPAD1, 0x4F, 0, LEFT_ALT_PRESSED),
                  Key(false, VK_MENU, 0x38, L'\u00E4'), Key(false, VK_MENU, 0x38, 0)}),
            std::u32string(3, kOther) + U'\u00E4' + kOther);
}

}  // namespace
}  // namespace op::windows
