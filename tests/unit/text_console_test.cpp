#include "text_console.h"

#include <gtest/gtest.h>

#include "fake_console.h"

namespace op {
namespace {

using testing::FakeConsole;

TEST(TextConsole, OpensInLightGreyOnBlackAndPlacesControlCharactersAsCells) {
  FakeConsole screen(10, 4, {2, 3});
  TextConsole console(screen);
  console.Open();
  console.Write("");
  EXPECT_EQ(screen.Cursor(), (Position{2, 3}));
  console.Write("a\r\nb");
  EXPECT_EQ(screen.Row(2), U"  a\r\nb");
  EXPECT_EQ(screen.Cursor(), (Position{2, 7}));
  EXPECT_EQ(screen.At(2, 3).colours, 7);
  console.SetColour(14);
  console.Write("\xE9");  // é in the 8-bit code page
  EXPECT_EQ(screen.At(2, 7).character, U'\u00E9');
  EXPECT_EQ(screen.At(2, 7).colours, 14);
  EXPECT_EQ(screen.textColours, 14);
  console.SetColour(99);  // out of range: kept
  console.Write("x");
  EXPECT_EQ(screen.At(2, 8).colours, 14);
}

TEST(TextConsole, WrapsAndScrollsOnlyWhenTheNextCharacterArrives) {
  FakeConsole screen(4, 3, {3, 1});
  TextConsole console(screen);
  console.Open();
  console.Write("abcd");  // fills the bottom row exactly
  EXPECT_EQ(screen.scrolls, 0);
  EXPECT_EQ(screen.Cursor(), (Position{3, 1}));
  EXPECT_EQ(screen.Text(3), "abcd");
  console.SetColour(3);
  console.Write("e");
  EXPECT_EQ(screen.scrolls, 1);
  EXPECT_EQ(screen.Text(2), "abcd");
  EXPECT_EQ(screen.Text(3), "e");
  EXPECT_EQ(screen.At(3, 4).colours, 3);  // the new row is blank in the current colours
  EXPECT_EQ(screen.Cursor(), (Position{3, 2}));
}

TEST(TextConsole, LineEndAfterAFullRowLeavesOneEmptyRowEverywhere) {
  FakeConsole screen(4, 5);
  TextConsole console(screen);
  console.Open();
  console.Write("abcd");
  console.LineEnd();
  console.Write("x");
  EXPECT_EQ(screen.Text(1), "abcd");
  EXPECT_EQ(screen.Text(2), "");
  EXPECT_EQ(screen.Text(3), "x");

  screen.SetCursor({5, 1});
  console.Write("wxyz");  // bottom row, scroll pending
  console.LineEnd();      // scrolls twice
  console.Write("q");
  EXPECT_EQ(screen.scrolls, 2);
  EXPECT_EQ(screen.Text(3), "wxyz");
  EXPECT_EQ(screen.Text(4), "");
  EXPECT_EQ(screen.Text(5), "q");
  console.LineEnd();  // plain line end on the bottom row: one scroll
  EXPECT_EQ(screen.scrolls, 3);
  EXPECT_EQ(screen.Cursor(), (Position{5, 1}));
}

TEST(TextConsole, NumberForm) {
  FakeConsole screen(80, 2);
  TextConsole console(screen);
  console.Open();
  for (const std::int64_t n : std::initializer_list<std::int64_t>{0, 48, -1, 32767, -32768, 10000000, INT64_MIN}) {
    console.WriteNumber(n);
  }
  EXPECT_EQ(screen.Text(1),
            " 0  48 -1  32767 -32768  10000000 -9223372036854775808");
}

TEST(TextConsole, ReadLineEditsAndReturnsTheCodePageText) {
  FakeConsole screen(40, 3);
  TextConsole console(screen);
  console.Open();
  console.Write("Q ");
  screen.Type(U"\b");  // on an empty line: the question stays
  screen.Type(U"ab\bc");
  screen.Special();                                           // an arrow key
  screen.Press({KeyEvent::Kind::Character, U'x', true});      // Alt+X
  screen.Press({KeyEvent::Kind::Other, 0, false});            // a key release
  screen.Type(U"\t\x1b\x03\n");                               // Tab, Escape, Ctrl+C, Ctrl+J
  screen.Type(U" \u00E9\u20AC\u4E2D\r");                       // é and € exist in the code page, 中 does not
  EXPECT_EQ(console.ReadLine(), "ac \xE9\x80?");
  EXPECT_EQ(screen.Row(1), U"Q ac \u00E9\u20AC\u4E2D");
  EXPECT_EQ(screen.Cursor(), (Position{2, 1}));
  EXPECT_EQ(screen.beeps, 0);

  screen.Type(U"\r");
  EXPECT_EQ(console.ReadLine(), "");
  EXPECT_EQ(screen.Cursor(), (Position{3, 1}));
}

TEST(TextConsole, BackspaceErasesAcrossARowBoundaryAndAPendingScroll) {
  FakeConsole screen(4, 3, {2, 3});
  TextConsole console(screen);
  console.Open();
  screen.Type(U"abcdef");  // "ab" ends row 2, "cdef" fills the bottom row: scroll pending
  screen.Type(U"\b\b\b\b\b");
  screen.Type(U"Z\r");
  EXPECT_EQ(console.ReadLine(), "aZ");
  // The pending scroll was taken back; only the Enter, after Z filled row 2,
  // scrolled once.
  EXPECT_EQ(screen.scrolls, 1);
  EXPECT_EQ(screen.Text(1), "  aZ");
  EXPECT_EQ(screen.Text(2), "");
}

TEST(TextConsole, LineHoldsAtMostTenThousandCharacters) {
  FakeConsole screen(100, 200);
  TextConsole console(screen);
  console.Open();
  screen.Type(std::u32string(kMaxLineLength, U'7'));
  screen.Type(U"8");   // neither kept nor echoed
  screen.Type(U"\b9\r");  // Backspace and Enter still work on a full line
  const std::string line = console.ReadLine().value();
  EXPECT_EQ(line.size(), kMaxLineLength);
  EXPECT_EQ(line.back(), '9');
  EXPECT_EQ(screen.Text(100), std::string(99, '7') + "9");
  EXPECT_EQ(screen.Cursor(), (Position{102, 1}));
}

TEST(TextConsole, AKeyboardGoneBeforeEnterGivesNoAnswerAndWaitKeyReturns) {
  FakeConsole screen(20, 3);
  TextConsole console(screen);
  console.Open();
  screen.Type(U"ab");
  EXPECT_EQ(console.ReadLine(), std::nullopt);
  EXPECT_EQ(screen.Cursor(), (Position{1, 3}));  // no line end for an answer not given
  console.WaitKey();
  SUCCEED();
}

TEST(TextConsole, WaitKeyPassesOverReleasesAndEndsOnAnyKey) {
  FakeConsole screen(20, 3);
  TextConsole console(screen);
  console.Open();
  screen.Press({KeyEvent::Kind::Other, 0, false});
  screen.Special();
  screen.Type(U"x");
  console.WaitKey();
  EXPECT_EQ(screen.keysTaken, 2);  // the release, then the arrow ended it
  EXPECT_EQ(screen.Text(1), "");  // nothing written
  // Keys typed ahead are not flushed: the x is still there for the next read.
  screen.cursorVisible_ = false;
  screen.Type(U"\r");
  EXPECT_EQ(console.ReadLine(), "x");
  EXPECT_FALSE(screen.CursorVisible());  // hidden again after the read
}

TEST(TextConsole, SurvivesAGridThatShrinksUnderIt) {
  FakeConsole screen(10, 5, {5, 8});
  TextConsole console(screen);
  console.Open();
  screen.Resize(3, 2);
  console.Write("abcdefg");
  console.LineEnd();
  EXPECT_EQ(screen.Text(2), "");
  EXPECT_EQ(screen.Cursor(), (Position{2, 1}));
}

}  // namespace
}  // namespace op
