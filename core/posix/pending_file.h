// The temporary file that will become OpSymbs.inc, while it is being made.
#pragma once

namespace op {

// Removes it, if there is one: for the handler of a signal that ends the
// program, so no half-made file is left behind. Async-signal-safe.
void RemovePendingFile();

}  // namespace op
