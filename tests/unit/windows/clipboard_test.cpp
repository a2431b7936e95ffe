#include "clipboard.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace op {
namespace {

// Puts raw bytes on the clipboard as its Unicode text; `bytes` need not
// end in a zero.
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

bool PutClipboard(std::wstring_view text) {
  const std::wstring terminated(text);
  return PutClipboard(terminated.c_str(), (terminated.size() + 1) * sizeof(wchar_t));
}

std::optional<std::wstring> ClipboardUnicodeText() {
  std::optional<std::wstring> text;
  if (!OpenClipboard(nullptr)) return text;
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = std::wstring(units, wcsnlen(units, GlobalSize(data) / sizeof(wchar_t)));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// The clipboard belongs to the user: the text that was there is put back.
class ClipboardTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (saved_) {
      PutClipboard(*saved_);
    } else {
      PutClipboard(nullptr, 0);
    }
  }
  std::optional<std::wstring> saved_ = ClipboardUnicodeText();
};

TEST_F(ClipboardTest, ReadsTheTextUpToItsFirstZero) {
  ASSERT_TRUE(PutClipboard(L"1011\r\n0, 1"));
  EXPECT_EQ(ReadClipboardText().text, "1011\r\n0, 1");
  const wchar_t withZero[] = L"10\0" L"11";
  ASSERT_TRUE(PutClipboard(withZero, sizeof withZero));
  EXPECT_EQ(ReadClipboardText().text, "10");
}

TEST_F(ClipboardTest, TextIsConvertedToTheCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "the code page is " << GetACP();
  ASSERT_TRUE(PutClipboard(L"10\u20AC\u00E4\u4E2D"));
  EXPECT_EQ(ReadClipboardText().text, "10\x80\xE4?");
}

TEST_F(ClipboardTest, NoTextIsTheEmptyText) {
  ASSERT_TRUE(PutClipboard(nullptr, 0));
  EXPECT_EQ(ReadClipboardText().text, "");
  const UINT private_format = RegisterClipboardFormatW(L"OpTestBits");
  ASSERT_TRUE(PutClipboard("1011", 5, private_format));
  EXPECT_EQ(ReadClipboardText().text, "");
}

TEST_F(ClipboardTest, AClipboardHeldOpenElsewhereIsAFailureNotAnEmptyText) {
  ASSERT_TRUE(PutClipboard(L"1011"));
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool heldOpen = false;
  // Held by a window of another thread, as another program would hold it.
  std::thread holder([&] {
    const HWND window = CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, nullptr, nullptr);
    heldOpen = window != nullptr && OpenClipboard(window) != FALSE;
    SetEvent(opened);
    WaitForSingleObject(done, 10000);
    if (heldOpen) CloseClipboard();
    if (window != nullptr) DestroyWindow(window);
  });
  WaitForSingleObject(opened, 10000);
  EXPECT_TRUE(heldOpen);
  if (heldOpen) {
    const ClipboardText read = ReadClipboardText();
    EXPECT_EQ(read.failure, "Clipboard not read: in use by another program");
    EXPECT_EQ(read.text, "");
  }
  SetEvent(done);
  holder.join();
  CloseHandle(opened);
  CloseHandle(done);
  const ClipboardText read = ReadClipboardText();
  EXPECT_EQ(read.text, "1011");
  EXPECT_EQ(read.failure, "");
}

}  // namespace
}  // namespace op
