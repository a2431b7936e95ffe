// BitFileReader: the input file read byte by byte, through a buffer (not a system call a byte).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "file_system.h"

namespace op {

class BitFileReader {
 public:
  explicit BitFileReader(FileSystem& files) : files_(files) {}

  // Opens the file at its first byte; false, with Failure() saying why, when it cannot.
  bool OpenInput(std::string_view name);
  // Set by a failed open and by the first read that finds no byte left.
  bool AtEnd() const { return atEnd_; }
  // The next byte; at the end of the file (or on a failed read) 0, and AtEnd() becomes true.
  unsigned char ReadByte() {
    if (next_ == filled_ && !Refill()) {
      atEnd_ = true;
      return 0;
    }
    return static_cast<unsigned char>(buffer_[next_++]);
  }
  void CloseInput() { file_.reset(); }
  bool IsSameFileAs(std::string_view name) const { return file_ && file_->IsSameFileAs(name); }
  // Why the open or a read failed; empty when nothing did.
  const std::string& Failure() const { return failure_; }

 private:
  bool Refill();

  FileSystem& files_;
  std::unique_ptr<InputFile> file_;
  std::array<char, 64 * 1024> buffer_{};
  std::size_t next_ = 0, filled_ = 0;
  bool atEnd_ = true;
  std::string failure_;
};

}  // namespace op
