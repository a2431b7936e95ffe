#include <gtest/gtest.h>

#include "code_page.h"
#include "utf8.h"

namespace op {
namespace {

TEST(CodePage, EveryByteGoesThereAndBackAndWhatItLacksIsMarked) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(ToCodePage(FromCodePage(one)), one) << byte;
  }
  EXPECT_EQ(FromCodePage("a\x80\x9F\r"), U"a\u20AC\u0178\r");
  EXPECT_EQ(ToCodePage(U"\u0100"), "?");
  const std::pair<const char*, const char*> fromUtf8[] = {
      {"01\xC3\xA9\xE2\x82\xAC", "01\xE9\x80"},                  // é €
      {"\xE4\xB8\xAD\xF0\x9F\x98\x80" "a", "??a"},               // 中 😀
      {"\xFF\xC3(\xED\xA0\x80\xC0\xAF", "??" "(?????"},          // invalid bytes, a surrogate
      {"1\xE2\x82", "1?"},                                       // cut short at the end
  };
  for (const auto& [utf8, bytes] : fromUtf8) EXPECT_EQ(ToCodePage(FromUtf8(utf8)), bytes) << utf8;
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

}  // namespace
}  // namespace op
