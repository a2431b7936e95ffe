#include "posix/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace op {
namespace {

using Kind = KeyEvent::Kind;

TEST(KeyDecoder, SpecialKeysConsumeExactlyTheirSequence) {
  const std::vector<std::string> sequences = {
      "\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D", "\x1b[H", "\x1b[F",
      "\x1b[2~", "\x1b[3~", "\x1b[5~", "\x1b[6~", "\x1b[1~", "\x1b[4~",
      "\x1b[15~", "\x1b[24~", "\x1b[1;5C", "\x1b[1;2A", "\x1b[3;5~",
      "\x1b[1;3P", "\x1bOP", "\x1bOS", "\x1bOH", "\x1bOF", "\x1b[Z",
      "\x1b[1;2R"};  // Shift+F3, shaped like a cursor report
  for (const std::string& sequence : sequences) {
    // A key typed right after must be left for the next call.
    const DecodedKey key = DecodeKey(sequence + "x", false);
    EXPECT_EQ(key.event.kind, Kind::Special) << sequence.substr(1);
    EXPECT_EQ(key.consumed, sequence.size()) << sequence.substr(1);
  }
}

TEST(KeyDecoder, RepliesAndUnknownSequencesAreNoKeys) {
  for (const std::string& sequence : std::vector<std::string>{
           "\x1b[200~", "\x1b[I", "\x1b[?1;2c", "\x1b[<0;3;4M", "\x1b[1 q",
        "\x1b[M !!", "\x1b[M\xff\x80\x1b",  // old-style mouse reports: any three bytes
        "\x1b[" + std::string(100, '7') + "m"}) {  // however long
    const DecodedKey key = DecodeKey(sequence + "a", true);
    EXPECT_EQ(key.event.kind, Kind::Other) << sequence.substr(1);
    EXPECT_EQ(key.consumed, sequence.size()) << sequence.substr(1);
  }
}

TEST(KeyDecoder, UnfinishedSequenceWaitsThenGivesUp) {
  EXPECT_EQ(DecodeKey("\x1b", false).consumed, 0u);
  const DecodedKey escape = DecodeKey("\x1b", true);
  EXPECT_EQ(escape.event.kind, Kind::Character);
  EXPECT_EQ(escape.event.character, 27u);
  EXPECT_EQ(escape.consumed, 1u);

  // ESC [ or ESC O with nothing after in time was Alt+[ or Alt+O.
  for (const std::string typed : {"[", "O"}) {
    EXPECT_EQ(DecodeKey("\x1b" + typed, false).consumed, 0u);
    const DecodedKey alt = DecodeKey("\x1b" + typed, true);
    EXPECT_EQ(alt.event.character, char32_t(typed[0]));
    EXPECT_TRUE(alt.event.altLetter);
    EXPECT_EQ(alt.consumed, 2u);
  }
  EXPECT_EQ(DecodeKey("\x1b[1;5", false).consumed, 0u);
  const DecodedKey cut = DecodeKey("\x1b[1;5", true);
  EXPECT_EQ(cut.event.kind, Kind::Other);
  EXPECT_EQ(cut.consumed, 5u);

  // Two Escape presses in a row: the first is a key of its own.
  const DecodedKey twice = DecodeKey("\x1b\x1b[A", false);
  EXPECT_EQ(twice.event.character, 27u);
  EXPECT_EQ(twice.consumed, 1u);

  // A long sequence still coming is waited for, and taken whole once the
  // bytes stop.
  const std::string runaway = "\x1b[" + std::string(60, '1');
  EXPECT_EQ(DecodeKey(runaway, false).consumed, 0u);
  EXPECT_EQ(DecodeKey(runaway, true).event.kind, Kind::Other);
  EXPECT_EQ(DecodeKey(runaway, true).consumed, runaway.size());
  EXPECT_EQ(DecodeKey("\x1b[M!", false).consumed, 0u);
}

TEST(KeyDecoder, AltMarksOnlyTheLetterRows) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"x", true}, {"Q", true}, {";", true}, {"/", true}, {"{", true},
      {"\"", true}, {"5", false}, {"=", false}, {" ", false},
      {"\xc3\xa9", false}};
  for (const auto& [typed, letter] : cases) {
    const DecodedKey key = DecodeKey("\x1b" + typed, true);
    EXPECT_EQ(key.event.kind, Kind::Character) << typed;
    EXPECT_EQ(key.event.altLetter, letter) << typed;
    EXPECT_EQ(key.consumed, 1 + typed.size()) << typed;
  }
  EXPECT_EQ(DecodeKey("\x1b" "a", true).event.character, U'a');
  EXPECT_EQ(DecodeKey("\x1b\xc3\xa9", true).event.character, U'\u00E9');
  // ESC before a control byte is the Escape key, not Alt.
  const DecodedKey beforeControl = DecodeKey("\x1b\x01", true);
  EXPECT_EQ(beforeControl.event.character, 27u);
  EXPECT_EQ(beforeControl.consumed, 1u);
}

TEST(KeyDecoder, Utf8AndControlBytes) {
  const std::vector<std::pair<std::string, char32_t>> cases = {
      {"\xc3\xa9", U'\u00E9'},    {"\xe2\x82\xac", U'\u20AC'},
      {"\xf0\x9f\x98\x80", U'\U0001F600'}, {"\x7f", 8},  {"\x08", 8},
      {"\r", 13}, {"\n", 13}, {"\x03", 3}, {"\t", 9}, {"a", U'a'},
      {"\xff", 0xFFFD}, {"\x80", 0xFFFD}, {"\xc3(", 0xFFFD}};
  for (const auto& [bytes, code] : cases) {
    const DecodedKey key = DecodeKey(bytes, false);
    EXPECT_EQ(key.event.kind, Kind::Character) << bytes;
    EXPECT_EQ(key.event.character, code) << bytes;
    EXPECT_EQ(key.consumed, code == 0xFFFD ? 1 : bytes.size()) << bytes;
    EXPECT_FALSE(key.event.altLetter);
  }
  // The rest of a split character is still on its way.
  EXPECT_EQ(DecodeKey("\xe2\x82", false).consumed, 0u);
  const DecodedKey cut = DecodeKey("\xe2\x82", true);
  EXPECT_EQ(cut.event.character, 0xFFFDu);
  EXPECT_EQ(cut.consumed, 2u);
}

TEST(KeyDecoder, StreamOfKeysDecodesInOrder) {
  std::string_view stream =
      "a\x1b[A\xc3\xa9\x7f\x1b[3;5~\r\x1b[5;1R\x1bx\x03\x1b";
  std::vector<std::pair<Kind, char32_t>> got;
  while (!stream.empty()) {
    DecodedKey key = DecodeKey(stream, false);
    if (key.consumed == 0) key = DecodeKey(stream, true);
    ASSERT_GT(key.consumed, 0u);
    got.emplace_back(key.event.kind, key.event.character);
    stream.remove_prefix(key.consumed);
  }
  const std::vector<std::pair<Kind, char32_t>> want = {
      {Kind::Character, U'a'}, {Kind::Special, 0},
      {Kind::Character, U'\u00E9'}, {Kind::Character, 8},
      {Kind::Special, 0}, {Kind::Character, 13}, {Kind::Special, 0},
      {Kind::Character, U'x'}, {Kind::Character, 3},
      {Kind::Character, 27}};
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace op
