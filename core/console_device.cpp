#include "console_device.h"

#include <algorithm>
#include <array>

namespace op {

// Through PutCells, a stretch at a time, so that no cells are allocated.
void ConsoleDevice::PutPlain(Position at, std::string_view text, ColourPair colours) {
  std::array<Cell, 128> cells;
  while (!text.empty()) {
    const std::size_t count = std::min(text.size(), cells.size());
    for (std::size_t i = 0; i < count; ++i) cells[i] = {static_cast<char32_t>(text[i]), colours};
    PutCells(at, std::span<const Cell>(cells.data(), count));
    at.column += static_cast<int>(count);
    text.remove_prefix(count);
  }
}

}  // namespace op
