#include "bit_file_session.h"

#include <string>

#include "bit_file_reader.h"
#include "code_page.h"
#include "command_line.h"
#include "symbol_include.h"

namespace op {

int BitFileSession(TextConsole& console, FileSystem& files, std::string_view commandTail) {
  AnnounceOverwrite(console, files);
  const std::string inputName = ChooseInputName(commandTail);
  if (!files.OrdinaryFileExists(inputName)) {
    console.Beep();
    console.Write("No File");
    console.LineEnd();
    return 0;
  }
  // The terminal closed during the question: nobody confirmed anything, so OpSymbs.inc stays.
  const std::optional<std::string> comment = AskComment(console);
  if (!comment) return 1;

  // Found a moment ago, yet it may be gone, changed or swapped for a device
  // since; and reading OpSymbs.inc while replacing it would lose its bits.
  BitFileReader reader(files);
  const std::string shown = FromSystemText(inputName);
  if (!reader.OpenInput(inputName)) {
    return Refuse(console, shown + " cannot be opened: " + reader.Failure());
  }
  if (reader.IsSameFileAs(kOutputFileName)) {
    return Refuse(console, shown + " and " + std::string(kOutputFileName) +
                               " are the same file: nothing written");
  }

  SymbolIncludeWriter writer(console, files, EchoLayout::GroupPerLine);
  writer.Begin(*comment);
  while (!reader.AtEnd()) writer.Feed(static_cast<char>(reader.ReadByte()));
  reader.CloseInput();
  if (!reader.Failure().empty()) {
    writer.NoteFailure("reading " + shown + " failed: " + reader.Failure());
  }
  const bool written = writer.Finish();
  if (!written) console.Beep();
  console.WaitKey();
  return written ? 0 : 1;
}

}  // namespace op
