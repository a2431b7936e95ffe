#include "clipboard_session.h"

#include "symbol_include.h"

namespace op {
namespace {

constexpr int kKeepColour = -1;

std::string RaiseLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

}  // namespace

bool HasForeignCharacter(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 50) return true;
  }
  return false;
}

std::string FirstField(std::string_view line) {
  const auto start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  line.remove_prefix(start);
  if (line.front() == '"') {
    line.remove_prefix(1);
    return std::string(line.substr(0, line.find('"')));
  }
  std::string_view field = line.substr(0, line.find(','));
  const auto last = field.find_last_not_of(' ');
  return std::string(field.substr(0, last == std::string_view::npos ? 0 : last + 1));
}

int ClipboardSession(TextConsole& console, FileSystem& files,
                     const std::function<ClipboardText()>& readClipboard) {
  console.SetColour(14, kKeepColour);
  console.Write("Generate OPERA Data include file from clipboard");
  console.LineEnd();
  console.SetColour(7, kKeepColour);

  const ClipboardText clipboard = readClipboard();
  // Not the same as an empty clipboard: OpSymbs.inc stays as it is.
  if (!clipboard.failure.empty()) return Refuse(console, clipboard.failure);
  const std::string& text = clipboard.text;

  console.SetColour(13, kKeepColour);
  console.Write("Clipboard Data");
  console.LineEnd();
  console.Write(text);
  console.LineEnd();
  console.SetColour(7, kKeepColour);

  if (HasForeignCharacter(text)) {
    console.Write("Characters other than '1' and '0' stored in clipboard data  ");
    console.LineEnd();
    console.Write("Abort   Y/n");
    const std::string answer = console.ReadLine();
    if (console.KeyboardLost()) return 1;  // the terminal closed: no answer
    if (RaiseLetters(FirstField(answer)) != "N") {
      console.Beep();
      return 0;
    }
  }

  AnnounceOverwrite(console, files);
  const std::string comment = AskComment(console);
  if (console.KeyboardLost()) return 1;  // OpSymbs.inc stays as it is

  SymbolIncludeWriter writer(console, files, EchoLayout::RowsOf32);
  writer.Begin(comment);
  for (const char c : text) writer.Feed(c);
  const bool written = writer.Finish();
  if (!written) console.Beep();
  console.WaitKey();
  return written ? 0 : 1;
}

}  // namespace op
