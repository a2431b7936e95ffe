#include "windows/key_records.h"

#include <vector>

#include <gtest/gtest.h>

#include "windows/key_record.h"

namespace op::windows {
namespace {

using Kind = KeyEvent::Kind;
using op::testing::Key;

INPUT_RECORD Event(WORD type) {
  INPUT_RECORD record{};
  record.EventType = type;
  return record;
}

// Every event the records yield, in order.
std::vector<KeyEvent> Events(const std::vector<INPUT_RECORD>& records) {
  KeyRecordReader reader;
  std::vector<KeyEvent> events;
  for (const INPUT_RECORD& record : records) {
    reader.Take(record);
    while (reader.HasKey()) events.push_back(reader.Next());
  }
  return events;
}

KeyEvent One(const INPUT_RECORD& record) {
  const auto events = Events({record});
  EXPECT_EQ(events.size(), 1u);
  return events.empty() ? KeyEvent{} : events.front();
}

TEST(KeyRecords, EveryCharacterOfAKeyPressIsACharacter) {
  for (const wchar_t c : {L'a', L'Z', L'0', L' ', L'\u00E4', L'\u20AC', wchar_t{13}, wchar_t{8},
                          wchar_t{27}, wchar_t{3}, wchar_t{9}}) {
    const KeyEvent key = One(Key(true, 0, 0, c));
    EXPECT_EQ(key.kind, Kind::Character) << int(c);
    EXPECT_EQ(key.character, static_cast<char32_t>(c));
    EXPECT_FALSE(key.altLetter);
  }
  // Wine gives these keys without their character (27, 13, 8, 9: the
  // same numbers as their virtual keys).
  for (const WORD vk : {VK_ESCAPE, VK_RETURN, VK_BACK, VK_TAB}) {
    const KeyEvent key = One(Key(true, vk, 0, 0));
    EXPECT_EQ(key.kind, Kind::Character) << vk;
    EXPECT_EQ(key.character, char32_t{vk}) << vk;
  }
}

TEST(KeyRecords, SpecialKeysAreTheNavigationAndFunctionKeys) {
  for (const WORD vk : {VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN,
                        VK_INSERT, VK_DELETE, VK_F1, VK_F12, VK_F13, VK_F24}) {
    EXPECT_EQ(One(Key(true, vk, 0, 0)).kind, Kind::Special) << vk;
  }
  for (const WORD vk : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_CAPITAL, VK_NUMLOCK, VK_SCROLL, VK_LWIN,
                        VK_CLEAR, VK_SELECT, VK_F24 + 1, VK_PAUSE}) {
    EXPECT_EQ(One(Key(true, vk, 0, 0)).kind, Kind::Other) << vk;
  }
}

TEST(KeyRecords, ReleasesAndOtherEventsAreOther) {
  EXPECT_EQ(One(Key(false, 'A', 0x1E, L'a')).kind, Kind::Other);
  EXPECT_EQ(One(Key(false, VK_LEFT, 0x4B, 0)).kind, Kind::Other);
  for (const WORD type : {MOUSE_EVENT, WINDOW_BUFFER_SIZE_EVENT, MENU_EVENT, FOCUS_EVENT}) {
    EXPECT_EQ(One(Event(type)).kind, Kind::Other) << type;
  }
}

TEST(KeyRecords, AltOnTheLetterRowsOnly) {
  auto altLetter = [](WORD scanCode, DWORD keys) {
    return One(Key(true, 0, scanCode, L'x', keys)).altLetter;
  };
  for (const WORD scan : {0x10, 0x1B, 0x1E, 0x28, 0x2B, 0x35}) {
    EXPECT_TRUE(altLetter(scan, LEFT_ALT_PRESSED)) << scan;
    EXPECT_TRUE(altLetter(scan, RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED)) << scan;  // AltGr
    EXPECT_FALSE(altLetter(scan, LEFT_CTRL_PRESSED | SHIFT_PRESSED)) << scan;
  }
  // Digits, Enter, left Ctrl, the grave accent, left and right Shift, space.
  for (const WORD scan : {0x02, 0x0F, 0x1C, 0x1D, 0x29, 0x2A, 0x36, 0x39}) {
    EXPECT_FALSE(altLetter(scan, LEFT_ALT_PRESSED)) << scan;
  }
}

TEST(KeyRecords, AHeldKeyRepeats) {
  const auto events = Events({Key(true, 'B', 0x30, L'b', 0, 4), Key(true, VK_UP, 0x48, 0, 0, 2)});
  ASSERT_EQ(events.size(), 6u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(events[i].character, U'b');
  EXPECT_EQ(events[4].kind, Kind::Special);
  EXPECT_EQ(events[5].kind, Kind::Special);
  EXPECT_EQ(One(Key(true, 'B', 0x30, L'b', 0, 0)).character, U'b');  // a count of 0 is one
}

TEST(KeyRecords, SurrogatePairsMakeOneCharacter) {
  auto events = Events({Key(true, VK_PACKET, 0, 0xD83D), Key(false, VK_PACKET, 0, 0xD83D),
                        Key(true, VK_PACKET, 0, 0xDE00), Key(false, VK_PACKET, 0, 0xDE00)});
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, Kind::Other);  // the first release
  EXPECT_EQ(events[1].kind, Kind::Character);
  EXPECT_EQ(events[1].character, U'\U0001F600');
  EXPECT_EQ(events[2].kind, Kind::Other);

  // Unpaired halves become U+FFFD; what came after them is kept.
  events = Events({Key(true, 0, 0, 0xD83D), Key(true, 0, 0, L'x'), Key(true, 0, 0, 0xDE00),
                   Key(true, 0, 0, 0xD800), Key(true, 0, 0, 0xD801), Key(true, 0, 0, 0xDC00),
                   Key(true, 0, 0, 0xDBFF), Key(true, VK_HOME, 0, 0)});
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0].character, U'\uFFFD');
  EXPECT_EQ(events[1].character, U'x');
  EXPECT_EQ(events[2].character, U'\uFFFD');
  EXPECT_EQ(events[3].character, U'\uFFFD');
  EXPECT_EQ(events[4].character, U'\U00010400');
  EXPECT_EQ(events[5].character, U'\uFFFD');
  EXPECT_EQ(events[6].kind, Kind::Special);
}

TEST(KeyRecords, ACharacterComposedOnTheNumberPadComesWithTheAltRelease) {
  const auto events = Events({Key(true, VK_MENU, 0x38, 0, LEFT_ALT_PRESSED),
                              Key(true, VK_NUMPAD1, 0x4F, 0, LEFT_ALT_PRESSED),
                              Key(false, VK_NUMPAD1, 0x4F, 0, LEFT_ALT_PRESSED),
                              Key(false, VK_MENU, 0x38, L'\u00E4')});
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[3].kind, Kind::Character);
  EXPECT_EQ(events[3].character, U'\u00E4');
  EXPECT_FALSE(events[3].altLetter);
  EXPECT_EQ(One(Key(false, VK_MENU, 0x38, 0)).kind, Kind::Other);
}

}  // namespace
}  // namespace op::windows
