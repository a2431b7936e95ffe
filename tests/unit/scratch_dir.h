// A fresh temporary directory that is the current directory for the life
// of a test, since the tools work in the current directory; and the
// platform's files with faults put in.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

#include "file_system.h"

namespace op::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("optest-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  static void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  static std::string Get(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

// The platform's files, with input files that can be made to fail or to
// deliver their bytes in small, uneven pieces, and output files on a disk
// that can fill up.
class FaultyFiles final : public FileSystem {
 public:
  std::function<void()> beforeOpen;  // called as OpenInput starts, when set
  std::string openFailure;     // OpenInput fails with this, when set
  std::size_t failAfter = 0;   // a read fails once this many bytes came, when set
  std::size_t piece = 3;       // at most this many bytes per read
  std::size_t diskRoom = 0;    // a write past this many bytes fails, when set
  int reads = 0;

  bool OrdinaryFileExists(std::string_view name) override { return real_->OrdinaryFileExists(name); }
  std::unique_ptr<OutputFile> OpenOutput(std::string_view name, std::string& error) override {
    auto file = real_->OpenOutput(name, error);
    return file ? std::make_unique<Disk>(*this, std::move(file)) : nullptr;
  }
  std::unique_ptr<InputFile> OpenInput(std::string_view name, std::string& error) override {
    if (beforeOpen) beforeOpen();
    if (!openFailure.empty()) {
      error = openFailure;
      return nullptr;
    }
    auto file = real_->OpenInput(name, error);
    return file ? std::make_unique<Pieces>(*this, std::move(file)) : nullptr;
  }

 private:
  struct Disk final : OutputFile {
    Disk(FaultyFiles& owner, std::unique_ptr<OutputFile> file) : owner(owner), file(std::move(file)) {}
    bool Write(std::string_view bytes, std::string& error) override {
      written += bytes.size();
      if (owner.diskRoom != 0 && written > owner.diskRoom) {
        error = "No space left on device";
        return false;
      }
      return file->Write(bytes, error);
    }
    bool Commit(std::string& error) override { return file->Commit(error); }
    FaultyFiles& owner;
    std::unique_ptr<OutputFile> file;
    std::size_t written = 0;
  };
  struct Pieces final : InputFile {
    Pieces(FaultyFiles& owner, std::unique_ptr<InputFile> file) : owner(owner), file(std::move(file)) {}
    std::ptrdiff_t Read(std::span<char> buffer, std::string& error) override {
      ++owner.reads;
      if (owner.failAfter != 0 && delivered >= owner.failAfter) {
        error = "Input/output error";
        return -1;
      }
      const auto got = file->Read(buffer.first(std::min(buffer.size(), owner.piece)), error);
      if (got > 0) delivered += static_cast<std::size_t>(got);
      return got;
    }
    bool IsSameFileAs(std::string_view name) override { return file->IsSameFileAs(name); }
    FaultyFiles& owner;
    std::unique_ptr<InputFile> file;
    std::size_t delivered = 0;
  };
  std::unique_ptr<FileSystem> real_ = MakePlatformFileSystem();
};

}  // namespace op::testing
