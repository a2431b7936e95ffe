#include "clipboard.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace op {
namespace {

// Puts raw bytes on the clipboard in `format`; they need not end in a zero.
// Without bytes the clipboard is left empty.
bool PutClipboard(const void* bytes, std::size_t size, UINT format = CF_UNICODETEXT) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  bool put = true;
  if (bytes != nullptr) {
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    put = SetClipboardData(format, block) != nullptr;
    if (!put) GlobalFree(block);
  }
  CloseClipboard();
  return put;
}

// The clipboard belongs to the user: the text that was there is put back.
class ClipboardTest : public ::testing::Test {
 protected:
  ClipboardTest() {
    if (!OpenClipboard(nullptr)) return;
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const auto* units = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
      saved_ = std::wstring(units, wcsnlen(units, GlobalSize(data) / sizeof(wchar_t)));
      GlobalUnlock(data);
    }
    CloseClipboard();
  }
  ~ClipboardTest() override {
    if (saved_) PutClipboard(saved_->c_str(), (saved_->size() + 1) * sizeof(wchar_t));
    if (!saved_) PutClipboard(nullptr, 0);
  }
  std::optional<std::wstring> saved_;
};

// The Unicode text up to its first zero; no text at all is the empty text,
// not a failure.
TEST_F(ClipboardTest, ReadsTheTextUpToItsFirstZero) {
  const wchar_t text[] = L"1011\r\n0, 1";
  const wchar_t withZero[] = L"10\0" L"11";
  const struct {
    const void* bytes;
    std::size_t size;
    UINT format;
    const char* read;
  } cases[] = {
      {text, sizeof text, CF_UNICODETEXT, "1011\r\n0, 1"},
      {withZero, sizeof withZero, CF_UNICODETEXT, "10"},
      {nullptr, 0, CF_UNICODETEXT, ""},
      {"1011", 5, RegisterClipboardFormatW(L"OpTestBits"), ""},
  };
  for (const auto& [bytes, size, format, read] : cases) {
    ASSERT_TRUE(PutClipboard(bytes, size, format));
    const ClipboardText got = ReadClipboardText();
    EXPECT_EQ(got.text, read);
    EXPECT_EQ(got.failure, "") << read;
  }
}

TEST_F(ClipboardTest, TextIsConvertedToTheCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the code page is " << GetACP();
  const wchar_t text[] = L"10\u20AC\u00E4\u4E2D";
  ASSERT_TRUE(PutClipboard(text, sizeof text));
  EXPECT_EQ(ReadClipboardText().text, "10\x80\xE4?");
}

TEST_F(ClipboardTest, AClipboardHeldOpenElsewhereIsAFailureNotAnEmptyText) {
  const wchar_t text[] = L"1011";
  ASSERT_TRUE(PutClipboard(text, sizeof text));
  // Held by a window of another thread, as another program would hold it.
  std::promise<bool> opened;
  std::promise<void> done;
  std::thread holder([&] {
    const HWND window = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, nullptr, nullptr);
    opened.set_value(OpenClipboard(window) != FALSE);
    done.get_future().wait();
    CloseClipboard();
    DestroyWindow(window);
  });
  EXPECT_TRUE(opened.get_future().get());
  const ClipboardText read = ReadClipboardText();
  EXPECT_EQ(read.failure, "Clipboard not read: in use by another program");
  EXPECT_EQ(read.text, "");
  done.set_value();
  holder.join();
  EXPECT_EQ(ReadClipboardText().text, "1011");
}

}  // namespace
}  // namespace op
