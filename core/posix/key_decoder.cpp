#include "key_decoder.h"

#include <string_view>

#include "../utf8.h"

namespace op {
namespace {

using Kind = KeyEvent::Kind;

constexpr char kEscape = '\x1b';

DecodedKey Make(Kind kind, char32_t character, std::size_t consumed,
                bool altLetter = false) {
  DecodedKey key;
  key.event.kind = kind;
  key.event.character = character;
  key.event.altLetter = altLetter;
  key.consumed = consumed;
  return key;
}

DecodedKey Character(char32_t character, std::size_t consumed,
                     bool altLetter = false) {
  return Make(Kind::Character, character, consumed, altLetter);
}

// The keys of the three letter rows of a US keyboard, shifted or not.
bool OnLetterRows(char32_t c) {
  if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) return true;
  return std::u32string_view(U"[]\\;',./{}|:\"<>?").find(c) !=
         std::u32string_view::npos;
}

// The first parameter as a number; 0 when absent or not a number.
int FirstParameter(std::string_view params) {
  int value = 0;
  for (const char c : params) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 1000) break;  // no key number is that large
  }
  return value;
}

// `params` and `final` of a whole CSI sequence, without intermediates.
Kind ClassifyCsi(std::string_view params, char final) {
  // A private marker (< = > ?) starts replies and mouse reports, never keys.
  if (!params.empty() && params[0] >= '<') return Kind::Other;
  // ESC [ 1 ; 2 R is Shift+F3, though shaped like the answer to a cursor
  // position query: the device takes answers out only while it waits for one.
  switch (final) {
    case 'A': case 'B': case 'C': case 'D':  // arrows
    case 'E':                                // keypad 5
    case 'F': case 'H':                      // End, Home
    case 'P': case 'Q': case 'R': case 'S':  // F1 to F4 with modifiers
    case 'Z':                                // Shift+Tab
      return Kind::Special;
    case '~': {
      // 1..8 editing keys, 11..34 function keys; 200/201 bracket a paste.
      const int number = FirstParameter(params);
      return number >= 1 && number <= 34 ? Kind::Special : Kind::Other;
    }
    default:
      return Kind::Other;  // focus events, unknown replies
  }
}

// `bytes` starts with ESC [. A sequence is taken whole however long it
// is, so no part of it is ever read as typed characters.
DecodedKey DecodeCsi(std::string_view bytes, bool complete) {
  // An old-style mouse report: ESC [ M and three bytes of any value.
  if (bytes.size() > 2 && bytes[2] == 'M') {
    if (bytes.size() >= 6) return Make(Kind::Other, 0, 6);
    return complete ? Make(Kind::Other, 0, bytes.size()) : Make(Kind::Other, 0, 0);
  }
  std::size_t i = 2;
  std::size_t paramsEnd = 0;
  for (; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x30 && b <= 0x3F) {
      if (paramsEnd == 0) continue;
      // A parameter after an intermediate: broken, give up here.
      return Make(Kind::Other, 0, i);
    }
    if (b >= 0x20 && b <= 0x2F) {
      if (paramsEnd == 0) paramsEnd = i;
      continue;
    }
    if (b >= 0x40 && b <= 0x7E) {
      const bool hasIntermediates = paramsEnd != 0;
      const std::string_view params =
          bytes.substr(2, (hasIntermediates ? paramsEnd : i) - 2);
      const Kind kind =
          hasIntermediates ? Kind::Other : ClassifyCsi(params, bytes[i]);
      return Make(kind, 0, i + 1);
    }
    // Any other byte cannot belong to the sequence: it ends here, broken,
    // and the byte is a key of its own.
    return Make(Kind::Other, 0, i);
  }
  if (!complete) return Make(Kind::Other, 0, 0);
  // ESC [ and nothing more within the wait was Alt+[ typed by hand.
  if (bytes.size() == 2) return Character(U'[', 2, true);
  return Make(Kind::Other, 0, bytes.size());
}

// `bytes` starts with ESC and holds at least one more byte.
DecodedKey DecodeAfterEscape(std::string_view bytes, bool complete) {
  const auto next = static_cast<unsigned char>(bytes[1]);
  if (next == '[') return DecodeCsi(bytes, complete);
  if (next == 'O') {
    if (bytes.size() == 2) {
      if (!complete) return Make(Kind::Other, 0, 0);
      return Character(U'O', 2, true);  // Alt+Shift+O
    }
    const auto final = static_cast<unsigned char>(bytes[2]);
    if (final >= 0x40 && final <= 0x7E) return Make(Kind::Special, 0, 3);
    return Character(U'O', 2, true);
  }
  if (next < 0x20 || next == 0x7F) return Character(0x1B, 1);
  const Utf8Step step = DecodeUtf8(bytes.substr(1));
  if (step.length == 0) {
    if (!complete) return Make(Kind::Other, 0, 0);
    return Character(0x1B, 1);  // the cut-short rest decodes on its own
  }
  // An invalid byte or a C1 control is no Alt key: ESC stands alone.
  if (step.code == kReplacementCharacter && step.length == 1) {
    return Character(0x1B, 1);
  }
  if (step.code >= 0x80 && step.code <= 0x9F) return Character(0x1B, 1);
  return Character(step.code, 1 + step.length, OnLetterRows(step.code));
}

}  // namespace

DecodedKey DecodeKey(std::string_view bytes, bool complete) {
  if (bytes.empty()) return Make(Kind::Other, 0, 0);
  const auto first = static_cast<unsigned char>(bytes[0]);
  if (first == kEscape) {
    if (bytes.size() == 1) {
      return complete ? Character(0x1B, 1) : Make(Kind::Other, 0, 0);
    }
    return DecodeAfterEscape(bytes, complete);
  }
  // Backspace sends DEL; Ctrl+H sends BS. Both erase.
  if (first == 0x7F || first == 0x08) return Character(0x08, 1);
  // An Enter typed before raw mode began comes as a line feed (the
  // terminal turned CR into LF): it is Enter all the same.
  if (first == '\n') return Character(13, 1);
  if (first < 0x80) return Character(first, 1);
  const Utf8Step step = DecodeUtf8(bytes);
  if (step.length == 0) {
    if (!complete) return Make(Kind::Other, 0, 0);
    return Character(kReplacementCharacter, bytes.size());
  }
  return Character(step.code, step.length);
}

}  // namespace op
