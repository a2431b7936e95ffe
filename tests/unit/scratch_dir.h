// A fresh temporary directory that is the current directory for the life
// of a test, since the tools work in the current directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

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

}  // namespace op::testing
