#include "clipboard_session.h"

#include "symbol_include.h"

namespace op {
namespace {

bool IsNo(std::string_view field) { return field == "N" || field == "n"; }

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
  console.SetColour(14);
  console.Write("Generate OPERA Data include file from clipboard");
  console.LineEnd();
  console.SetColour(7);

  const ClipboardText clipboard = readClipboard();
  // Not the same as an empty clipboard: OpSymbs.inc stays as it is.
  if (!clipboard.failure.empty()) return Refuse(console, clipboard.failure);
  const std::string& text = clipboard.text;

  console.SetColour(13);
  console.Write("Clipboard Data");
  console.LineEnd();
  console.Write(text);
  console.LineEnd();
  console.SetColour(7);

  if (HasForeignCharacter(text)) {
    console.Write("Characters other than '1' and '0' stored in clipboard data  ");
    console.LineEnd();
    console.Write("Abort   Y/n");
    const std::optional<std::string> answer = console.ReadLine();
    if (!answer) return 1;  // the terminal closed: no answer
    if (!IsNo(FirstField(*answer))) {
      console.Beep();
      return 0;
    }
  }

  AnnounceOverwrite(console, files);
  const std::optional<std::string> comment = AskComment(console);
  if (!comment) return 1;  // the terminal closed: OpSymbs.inc stays as it is

  SymbolIncludeWriter writer(console, files, EchoLayout::RowsOf32);
  writer.Begin(*comment);
  for (const char c : text) writer.Feed(c);
  const bool written = writer.Finish();
  if (!written) console.Beep();
  console.WaitKey();
  return written ? 0 : 1;
}

}  // namespace op
