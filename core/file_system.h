// The seam to files. Every operation says whether it worked and, if not, why, in the user's words.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace op {

// The new content of a file, made in a temporary file beside it. The old file keeps every byte
// until Commit puts the new one in its place whole; one that ends without Commit leaves no trace.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual bool Write(std::string_view bytes, std::string& error) = 0;
  // Flushes the new content to the disk and renames it over the old file.
  virtual bool Commit(std::string& error) = 0;
};

class InputFile {
 public:
  virtual ~InputFile() = default;
  // Bytes read into `buffer`: 0 at the end of the file, -1 on a failure.
  virtual std::ptrdiff_t Read(std::span<char> buffer, std::string& error) = 0;
  // True when `name` is this very file, under whatever name or link.
  virtual bool IsSameFileAs(std::string_view name) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when `name` is an ordinary file, as the platform matches names: a directory, a device,
  // a pipe (and on Windows a hidden or system file) does not count.
  virtual bool OrdinaryFileExists(std::string_view name) = 0;
  // Starts replacing `name`. An existing file must be ordinary and held by no other program; it
  // stays held until the replacement is done, so two runs never interleave.
  virtual std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) = 0;
  // Opens an existing ordinary file read-only; refuses a directory, device or pipe; never creates.
  virtual std::unique_ptr<InputFile> OpenInput(std::string_view name, std::string& error) = 0;
};

std::unique_ptr<FileSystem> MakePlatformFileSystem();

}  // namespace op
