// Runs a helper program directly (no shell) with no input and its error
// output discarded, and collects what it prints, within a time limit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace op {

struct HelperResult {
  enum class Outcome { Missing, Failed, TimedOut, Succeeded };
  Outcome outcome = Outcome::Missing;
  std::string output;
};

// A helper that outlives `limit` is killed and reaped. Output past
// `maxOutput` bytes counts as a failure.
HelperResult RunHelper(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                       std::size_t maxOutput = std::size_t{256} << 20);

}  // namespace op
