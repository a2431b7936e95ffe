#include "bit_file_session.h"

#include <string>

#include "bit_file_reader.h"
#include "command_line.h"
#include "symbol_include.h"

namespace op {

int BitFileSession(TextConsole& console, FileSystem& files, std::string_view commandTail) {
  AnnounceOverwrite(console, files);
  const std::string inputName = ChooseInputName(commandTail);
  if (!OrdinaryFileExists(files, inputName)) {
    console.Beep();
    console.Write("No File");
    console.LineEnd();
    return 0;
  }
  const std::string comment = AskComment(console);
  // The terminal closed during the question: nobody confirmed anything, so
  // OpSymbs.inc stays as it is.
  if (console.KeyboardLost()) return 1;

  BitFileReader reader(files);
  if (!reader.OpenInput(inputName)) {
    // Found a moment ago but not readable: OpSymbs.inc stays as it is.
    console.Write(inputName + " cannot be opened: " + reader.Failure());
    console.LineEnd();
    console.Beep();
    console.WaitKey();
    return 1;
  }

  SymbolIncludeWriter writer(console, files, EchoLayout::GroupPerLine);
  writer.Begin(comment);
  while (!reader.AtEnd()) writer.Feed(static_cast<char>(reader.ReadByte()));
  reader.CloseInput();
  if (!reader.Failure().empty()) {
    writer.NoteInputFailure(std::string(kOutputFileName) + " incomplete: reading " + inputName +
                            " failed: " + reader.Failure());
  }
  const bool written = writer.Finish();
  if (!written) console.Beep();
  console.WaitKey();
  return written ? 0 : 1;
}

}  // namespace op
