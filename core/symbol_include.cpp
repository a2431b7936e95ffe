#include "symbol_include.h"

#include <algorithm>

namespace op {
namespace {

// A data line; the dots stand for the group's eight bits.
constexpr std::string_view kDataLine = "        de   b'........'\r\n";
constexpr std::string_view kEchoPiece = "     ........";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kFileChunk = 64 * 1024;

}  // namespace

void AnnounceOverwrite(TextConsole& console, FileSystem& files) {
  if (!files.OrdinaryFileExists(kOutputFileName)) return;
  console.Write("    Overwriting old ");
  console.Write(kOutputFileName);
  console.LineEnd();
  console.LineEnd();
}

std::optional<std::string> AskComment(TextConsole& console) {
  console.Write("Callsign used, or other comments for .INC file  ");
  std::optional<std::string> comment = console.ReadLine();
  if (!comment) return comment;
  console.LineEnd();
  console.LineEnd();
  return comment;
}

int Refuse(TextConsole& console, std::string_view reason) {
  console.Write(reason);
  console.LineEnd();
  console.Beep();
  console.WaitKey();
  return 1;
}

void SymbolIncludeWriter::Begin(std::string_view comment) {
  std::string error;
  file_ = files_.OpenOutput(kOutputFileName, error);
  if (!file_) NoteFailure(error);
  ToFile(";");
  ToFile(comment);
  ToFile(kLineEnd);
  ToFile(kLineEnd);
  if (layout_ == EchoLayout::RowsOf32) {
    console_.SetColour(7);
    console_.LineEnd();
  } else {
    console_.SetColour(3);
  }
}

// A complete group, or the last one padded with zeros: its echo on the screen, its data line.
void SymbolIncludeWriter::TakeGroup() {
  char echo[kEchoPiece.size()];
  kEchoPiece.copy(echo, sizeof echo);
  std::copy(group_, group_ + 8, echo + kEchoPiece.find('.'));  // padding zeros follow the bits
  if (layout_ == EchoLayout::GroupPerLine) console_.LineEnd();
  console_.Write(std::string_view(echo, sizeof echo));
  if (layout_ == EchoLayout::RowsOf32 && count_ % 32 == 0) console_.LineEnd();
  char line[kDataLine.size()];
  kDataLine.copy(line, sizeof line);
  std::copy(group_, group_ + 8, line + kDataLine.find('.'));
  ToFile(std::string_view(line, sizeof line));
}

bool SymbolIncludeWriter::Finish() {
  const int last = static_cast<int>(count_ % 8);
  if (last > 0) {
    std::fill(group_ + last, group_ + 8, '0');
    TakeGroup();
  }
  if (count_ == 0) {
    ToFile("'");  // the closing quote is written whatever the count
    ToFile(kLineEnd);
  }
  FlushFile();
  // Only a complete file replaces the old one; dropping it unfinished leaves the old one as it was.
  std::string error;
  if (file_ && failure_.empty() && !file_->Commit(error)) NoteFailure(error);
  file_.reset();
  console_.SetColour(7);
  console_.LineEnd();
  console_.LineEnd();
  if (failure_.empty()) {
    console_.Write(kOutputFileName);
    console_.Write(" Written");
  } else {
    console_.Write(failure_);
  }
  console_.LineEnd();
  console_.WriteNumber(count_);
  console_.Write("Bits");
  console_.LineEnd();
  return failure_.empty();
}

// File bytes are gathered and written in large pieces, one write per piece.
void SymbolIncludeWriter::ToFile(std::string_view bytes) {
  if (!file_) return;
  pending_.append(bytes);
  if (pending_.size() >= kFileChunk) FlushFile();
}

// After the first failed write nothing more is written, and the unfinished new file goes.
void SymbolIncludeWriter::FlushFile() {
  if (!file_ || pending_.empty()) return;
  std::string error;
  if (!file_->Write(pending_, error)) {
    NoteFailure(error);
    file_.reset();
  }
  pending_.clear();
}

void SymbolIncludeWriter::NoteFailure(std::string_view reason) {
  if (!failure_.empty()) return;
  failure_ = std::string(kOutputFileName) + " NOT written: " + std::string(reason);
}

}  // namespace op
