// The writer against a model: OpSymbs.inc (here) and the echo hold the comment and the bits fed, padded.

#include "support.h"

// The first byte chooses the layout (bit 7) and the length of the comment that follows (bits 0-4).
extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size), text = input.substr(std::min<std::size_t>(size, 1 + (data[0] & 0x1F)));
  std::string comment(input.substr(1, data[0] & 0x1F)), bits, echoed;
  std::erase_if(comment, [](char c) { return c == '\r' || c == '\n'; });
  std::copy_if(text.begin(), text.end(), std::back_inserter(bits), [](char c) { return c == '0' || c == '1'; });
  op::testing::FakeConsole screen(80, 10);
  if (!op::testing::Convert(screen, data[0] & 0x80 ? op::EchoLayout::RowsOf32 : op::EchoLayout::GroupPerLine, comment, text)) __builtin_trap();
  std::string file = ";" + comment + "\r\n\r\n" + (bits.empty() ? "'\r\n" : ""), count = " " + std::to_string(bits.size()) + " Bits";
  bits.resize((bits.size() + 7) / 8 * 8, '0');
  for (std::size_t at = 0; at < bits.size(); at += 8) file += op::testing::Data(bits.substr(at, 8));
  std::vector<std::string> lines = screen.Lines();
  for (std::size_t i = 0; i + 2 < lines.size(); ++i) std::erase(lines[i], ' '), echoed += lines[i];
  if (op::testing::ScratchDir::Get("OpSymbs.inc") != file || echoed != bits || lines.size() < 2 || lines.end()[-1] != count || lines.end()[-2] != "OpSymbs.inc Written") {
    __builtin_trap();
  }
  return 0;
}
