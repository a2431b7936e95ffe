// OpSymbs.inc: the steps both tools take before the conversion, and the writer that turns a bit
// stream into data lines while echoing the bits on the console.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "file_system.h"
#include "text_console.h"

namespace op {

inline constexpr std::string_view kOutputFileName = "OpSymbs.inc";

enum class EchoLayout {
  RowsOf32,      // opclip: 32 bits a row in groups of eight, colour 7
  GroupPerLine,  // opfile: one group of eight a row, colour 3
};

void AnnounceOverwrite(TextConsole& console, FileSystem& files);
// Asks for the include file's comment line; none when the keyboard went away before the answer.
std::optional<std::string> AskComment(TextConsole& console);
// Ends a run that writes nothing: the reason on a row of its own, the bell, a key. Returns 1.
int Refuse(TextConsole& console, std::string_view reason);

class SymbolIncludeWriter {
 public:
  SymbolIncludeWriter(TextConsole& console, FileSystem& files, EchoLayout layout)
      : console_(console), files_(files), layout_(layout) {}

  // Starts the new OpSymbs.inc with the comment line and the empty line.
  void Begin(std::string_view comment);
  // Only '0' and '1' count; a complete group of eight goes to the screen and the file.
  void Feed(char c) {
    if (c != '0' && c != '1') return;
    group_[count_ % 8] = c;
    if (++count_ % 8 == 0) TakeGroup();
  }
  // Something went wrong (the bits fed are not the whole input, a write failed): the old
  // OpSymbs.inc stays, and the summary gives the first reason.
  void NoteFailure(std::string_view reason);
  // Pads the last group, replaces the old file, writes the summary; true when all reached the disk.
  bool Finish();

 private:
  void TakeGroup();
  void ToFile(std::string_view bytes);
  void FlushFile();

  TextConsole& console_;
  FileSystem& files_;
  EchoLayout layout_;
  std::unique_ptr<OutputFile> file_;
  std::string pending_;   // file bytes not yet written
  std::string failure_;   // the first failure, as the summary shows it
  std::int64_t count_ = 0;
  char group_[8] = {};  // the bits of the group being gathered
};

}  // namespace op
