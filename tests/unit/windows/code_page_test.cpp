#include <windows.h>

#include <gtest/gtest.h>

#include "code_page.h"
#include "windows/wide_text.h"

namespace op {
namespace {

// Names as WTF-8: every UTF-16 text, lone surrogates too, there and back.
TEST(WindowsCodePage, NamesAsUtf8) {
  const std::wstring name = L"a\u00E4\u0141\u30D5\xD83D\xDE00\xDC00\xD800z\xD800";
  const std::string utf8 = windows::Utf8FromWide(name);
  EXPECT_EQ(utf8, "a\xC3\xA4\xC5\x81\xE3\x83\x95\xF0\x9F\x98\x80"
                  "\xED\xB0\x80\xED\xA0\x80z\xED\xA0\x80");
  EXPECT_EQ(windows::WideFromUtf8(utf8), name);
  EXPECT_EQ(windows::WideFromUtf8("\xFF\xC3"), L"\uFFFD\uFFFD");
}

TEST(WindowsCodePage, EveryByteOfASingleByteCodePageGoesThereAndBack) {
  CPINFO info{};
  if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1) GTEST_SKIP() << "lead bytes";
  for (int byte = 1; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    const std::u32string code = FromCodePage(one);
    ASSERT_EQ(code.size(), 1u) << byte;
    EXPECT_EQ(ToCodePage(code), one) << byte;
  }
}

TEST(WindowsCodePage, ACharacterPastTheBasicPlaneIsOneReplacement) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "UTF-8 holds every character";
  EXPECT_EQ(ToCodePage(U"a\U0001F600b\U0010FFFFc"), "a?b?c");
  EXPECT_EQ(ToCodePage(U""), "");
  EXPECT_EQ(FromCodePage(""), U"");
}

TEST(WindowsCodePage, WesternCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the code page is " << GetACP();
  EXPECT_EQ(FromCodePage("a\x80\xE4\x81"), U"a\u20AC\u00E4\u0081");
  EXPECT_EQ(ToCodePage(U"a\u20AC\u00E4\u0081\u4E2D"), "a\x80\xE4\x81?");
  // No best fit: Ł is not L.
  EXPECT_EQ(ToCodePage(U"\u0141\u0107"), "??");
  EXPECT_EQ(FromSystemText("\xC5\x81uk\xC3\xA4"), "?uk\xE4");
  // A pair is one character; a half without its partner is one too.
  EXPECT_EQ(FromSystemText("\xF0\x9F\x98\x80|\xED\xA0\x80|\xED\xB0\x80x"), "?|?|?x");
}

}  // namespace
}  // namespace op
