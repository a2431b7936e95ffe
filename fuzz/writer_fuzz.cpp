// SymbolIncludeWriter end to end against an in-memory file and console:
// the file must hold exactly the bits fed, and the console must say so.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fake_console.h"
#include "file_system.h"
#include "symbol_include.h"
#include "text_console.h"
#include "check.h"

namespace {

constexpr std::string_view kDataLinePrefix = "        de   b'";

struct MemoryFile {
  std::string name;
  std::string bytes;
  int opens = 0;
  bool closed = false;
};

class MemoryOutput final : public op::OutputFile {
 public:
  explicit MemoryOutput(MemoryFile& file) : file_(file) {}
  bool Write(std::string_view bytes, std::string&) override {
    CHECK(!file_.closed);
    CHECK(!bytes.empty());
    file_.bytes.append(bytes);
    return true;
  }
  bool Commit(std::string&) override {
    CHECK(!file_.closed);
    file_.closed = true;
    return true;
  }

 private:
  MemoryFile& file_;
};

class MemoryFileSystem final : public op::FileSystem {
 public:
  explicit MemoryFileSystem(MemoryFile& file) : file_(file) {}
  bool OrdinaryFileExists(std::string_view) override { return false; }
  std::unique_ptr<op::OutputFile> OpenOutput(std::string_view name, std::string&) override {
    ++file_.opens;
    file_.name = std::string(name);
    return std::make_unique<MemoryOutput>(file_);
  }
  std::unique_ptr<op::InputFile> OpenInput(std::string_view, std::string&) override {
    CHECK(false);
    return nullptr;
  }

 private:
  MemoryFile& file_;
};

}  // namespace

// The first byte chooses the layout (bit 7) and the comment's length (bits
// 0 to 4); the comment follows, then the text. The first bytes 0x75 and
// 0xF5 (a comment of 21 bytes) put 21000 bits of a fixed pattern before
// the text, so that the file takes more than one write (64 KiB at 26 bytes
// a group). Such runs are slow, so only those two values ask for one, and
// none the mutations favour (0x00, 0xFF).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const op::EchoLayout layout =
      (data[0] & 0x80) != 0 ? op::EchoLayout::RowsOf32 : op::EchoLayout::GroupPerLine;
  const std::size_t commentLength = std::min<std::size_t>(data[0] & 0x1F, size - 1);
  std::string comment;
  for (const char c : input.substr(1, commentLength)) {
    if (c != '\r' && c != '\n') comment.push_back(c);
  }
  std::string text;
  if ((data[0] & 0x7F) == 0x75) {
    // Thue-Morse: no period that lines up with the groups of eight.
    for (unsigned i = 0; i < 21000; ++i) text.push_back('0' + (__builtin_popcount(i) & 1));
  }
  text.append(input.substr(1 + commentLength));

  op::testing::FakeConsole device(80, 10);
  op::TextConsole console(device);
  MemoryFile file;
  MemoryFileSystem files(file);
  op::SymbolIncludeWriter writer(console, files, layout);

  std::string bits;
  writer.Begin(comment);
  for (const char c : text) {
    writer.Feed(c);
    if (c == '0' || c == '1') bits.push_back(c);
  }
  CHECK(writer.Finish());
  const std::size_t count = bits.size();
  while (bits.size() % 8 != 0) bits.push_back('0');

  CHECK(file.opens == 1);
  CHECK(file.name == op::kOutputFileName);
  CHECK(file.closed);
  std::string expected = ";" + comment + "\r\n\r\n";
  for (std::size_t at = 0; at < bits.size(); at += 8) {
    expected += std::string(kDataLinePrefix) + bits.substr(at, 8) + "'\r\n";
  }
  if (bits.empty()) expected += "'\r\n";
  CHECK(file.bytes == expected);

  // The console: the echoed groups, then the summary.
  const std::vector<std::string> rows = device.History();
  std::size_t last = rows.size();
  while (last > 0 && rows[last - 1].empty()) --last;
  CHECK(last >= 2);
  CHECK(rows[last - 1] == " " + std::to_string(count) + " Bits");
  CHECK(rows[last - 2] == "OpSymbs.inc Written");
  std::string echoed;
  for (std::size_t i = 0; i + 2 < last; ++i) {
    std::string_view row = rows[i];
    if (row.empty()) continue;
    // Groups of eight, each after five spaces: one a row, or up to four.
    const std::size_t groups = layout == op::EchoLayout::RowsOf32 ? 4 : 1;
    CHECK(row.size() % 13 == 0 && row.size() / 13 <= groups);
    while (!row.empty()) {
      CHECK(row.substr(0, 5) == "     ");
      for (const char c : row.substr(5, 8)) {
        CHECK(c == '0' || c == '1');
        echoed.push_back(c);
      }
      row.remove_prefix(13);
    }
  }
  CHECK(echoed == bits);
  return 0;
}
