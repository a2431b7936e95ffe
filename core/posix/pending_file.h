#pragma once

namespace op {

// Removes the temporary file that will become OpSymbs.inc, if there is one, so that a signal that
// ends the program leaves no half-made file. Async-signal-safe.
void RemovePendingFile();

}  // namespace op
