#include "wide_text.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace op::windows {
namespace {

// The conversion calls count in int; no text of these tools comes near it.
int Length(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

std::wstring WideFromCodePage(std::string_view text) {
  if (text.empty()) return {};
  const int length = Length(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), units);
  return wide;
}

std::string CodePageFromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = Length(text.size());
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

}  // namespace op::windows
