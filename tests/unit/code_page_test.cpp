#include <gtest/gtest.h>

#include "code_page.h"
#include "utf8.h"
#include "posix/windows_1252.h"

namespace op {
namespace {

TEST(Windows1252, EveryByteGoesThereAndBack) {
  for (int byte = 0; byte < 256; ++byte) {
    const char32_t code = Windows1252ToUnicode(static_cast<unsigned char>(byte));
    EXPECT_EQ(UnicodeToWindows1252(code), byte) << byte;
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(one)), one) << byte;
  }
  EXPECT_EQ(Windows1252ToUnicode(0x80), U'\u20AC');
  EXPECT_EQ(Windows1252ToUnicode(0x9F), U'\u0178');
  EXPECT_EQ(UnicodeToWindows1252(U'\u0100'), -1);
}

TEST(Windows1252, FromUtf8MarksWhatItLacksAndInvalidBytes) {
  EXPECT_EQ(Utf8ToWindows1252("01\xC3\xA9\xE2\x82\xAC"), "01\xE9\x80");   // é €
  EXPECT_EQ(Utf8ToWindows1252("\xE4\xB8\xAD\xF0\x9F\x98\x80" "a"), "??a"); // 中 😀
  EXPECT_EQ(Utf8ToWindows1252("\xFF\xC3(\xED\xA0\x80\xC0\xAF"), "??" "(?????");
  EXPECT_EQ(Utf8ToWindows1252("1\xE2\x82"), "1?");  // cut short at the end
}

TEST(Utf8, EncodesAndDecodesEachLength) {
  for (const char32_t code : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'}) {
    std::string bytes;
    AppendUtf8(bytes, code);
    const Utf8Step step = DecodeUtf8(bytes);
    EXPECT_EQ(step.code, code);
    EXPECT_EQ(step.length, bytes.size());
  }
  EXPECT_EQ(DecodeUtf8("\xF0\x9F").length, 0u);  // the rest may still come
  std::string surrogate;
  AppendUtf8(surrogate, 0xD800);
  EXPECT_EQ(surrogate, "\xEF\xBF\xBD");
}

TEST(CodePage, ConsoleTextRoundTrip) {
  EXPECT_EQ(FromCodePage("a\x80\r"), U"a\u20AC\r");
  EXPECT_EQ(ToCodePage(U"a\u20AC\r\u4E2D"), "a\x80\r?");
}

}  // namespace
}  // namespace op
