#include "console_device.h"

#include <vector>

namespace op {

void ConsoleDevice::PutPlain(Position at, std::string_view text, ColourPair colours) {
  std::vector<Cell> cells;
  cells.reserve(text.size());
  for (const char c : text) cells.push_back({static_cast<char32_t>(c), colours});
  PutCells(at, cells);
}

}  // namespace op
