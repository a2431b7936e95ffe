#include "key_decoder.h"

#include "../utf8.h"

namespace op {
namespace {

using Kind = KeyEvent::Kind;

constexpr DecodedKey kWaitForMore{};

DecodedKey Key(Kind kind, std::size_t consumed) { return {{kind, 0, false}, consumed}; }

DecodedKey Character(char32_t character, std::size_t consumed, bool altLetter = false) {
  return {{Kind::Character, character, altLetter}, consumed};
}

// The keys of the three letter rows of a US keyboard, shifted or not.
bool OnLetterRows(char32_t c) {
  if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) return true;
  return std::u32string_view(U"[]\\;',./{}|:\"<>?").find(c) != std::u32string_view::npos;
}

// A whole CSI sequence without intermediates, by its parameters and final byte.
Kind ClassifyCsi(std::string_view params, char final) {
  // A private marker (< = > ?) starts replies and mouse reports, never keys.
  if (!params.empty() && params[0] >= '<') return Kind::Other;
  // ESC [ 1 ; 2 R is Shift+F3, though shaped like the answer to a cursor
  // position query: the device takes answers out only while it waits for one.
  if (std::string_view("ABCDEFHPQRSZ").find(final) != std::string_view::npos) return Kind::Special;
  if (final != '~') return Kind::Other;  // focus events, unknown replies
  // 1..8 editing keys, 11..34 function keys; 200/201 bracket a paste.
  int number = 0;
  for (std::size_t i = 0; i < params.size() && params[i] >= '0' && params[i] <= '9' && number <= 1000; ++i) {
    number = number * 10 + (params[i] - '0');
  }
  return number >= 1 && number <= 34 ? Kind::Special : Kind::Other;
}

// `bytes` starts with ESC [. A sequence is taken whole however long, so none of it reads as typing.
DecodedKey DecodeCsi(std::string_view bytes, bool complete) {
  // An old-style mouse report: ESC [ M and three bytes of any value.
  if (bytes.size() > 2 && bytes[2] == 'M') {
    if (bytes.size() >= 6) return Key(Kind::Other, 6);
    return complete ? Key(Kind::Other, bytes.size()) : kWaitForMore;
  }
  std::size_t paramsEnd = 0;  // where intermediates begin, when there are any
  for (std::size_t i = 2; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x30 && b <= 0x3F) {
      if (paramsEnd != 0) return Key(Kind::Other, i);  // a parameter after an intermediate
    } else if (b >= 0x20 && b <= 0x2F) {
      if (paramsEnd == 0) paramsEnd = i;
    } else if (b >= 0x40 && b <= 0x7E) {
      if (paramsEnd != 0) return Key(Kind::Other, i + 1);
      return Key(ClassifyCsi(bytes.substr(2, i - 2), bytes[i]), i + 1);
    } else {
      return Key(Kind::Other, i);  // a byte foreign to the sequence ends it and is a key of its own
    }
  }
  if (!complete) return kWaitForMore;
  // ESC [ and nothing more within the wait was Alt+[ typed by hand.
  if (bytes.size() == 2) return Character(U'[', 2, true);
  return Key(Kind::Other, bytes.size());
}

// `bytes` starts with ESC and holds at least one more byte.
DecodedKey DecodeAfterEscape(std::string_view bytes, bool complete) {
  const auto next = static_cast<unsigned char>(bytes[1]);
  if (next == '[') return DecodeCsi(bytes, complete);
  if (next == 'O') {
    if (bytes.size() == 2 && !complete) return kWaitForMore;
    if (bytes.size() > 2 && bytes[2] >= 0x40 && bytes[2] <= 0x7E) return Key(Kind::Special, 3);
    return Character(U'O', 2, true);  // Alt+Shift+O
  }
  if (next < 0x20 || next == 0x7F) return Character(0x1B, 1);
  const Utf8Step step = DecodeUtf8(bytes.substr(1));
  if (step.length == 0) return complete ? Character(0x1B, 1) : kWaitForMore;
  // An invalid byte or a C1 control is no Alt key: ESC stands alone.
  if ((step.code == kReplacementCharacter && step.length == 1) ||
      (step.code >= 0x80 && step.code <= 0x9F)) {
    return Character(0x1B, 1);
  }
  return Character(step.code, 1 + step.length, OnLetterRows(step.code));
}

}  // namespace

DecodedKey DecodeKey(std::string_view bytes, bool complete) {
  if (bytes.empty()) return kWaitForMore;
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first == 0x1B) {
    if (bytes.size() > 1) return DecodeAfterEscape(bytes, complete);
    return complete ? Character(0x1B, 1) : kWaitForMore;
  }
  // Backspace sends DEL; Ctrl+H sends BS. Both erase.
  if (first == 0x7F || first == 0x08) return Character(0x08, 1);
  // An Enter typed before raw mode came as LF (the terminal turned CR into LF): Enter all the same.
  if (first == '\n') return Character(13, 1);
  if (first < 0x80) return Character(first, 1);
  const Utf8Step step = DecodeUtf8(bytes);
  if (step.length == 0) return complete ? Character(kReplacementCharacter, bytes.size()) : kWaitForMore;
  return Character(step.code, step.length);
}

}  // namespace op
