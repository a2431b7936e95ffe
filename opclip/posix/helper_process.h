// Runs a helper program directly (no shell) with no input and collects its output, in a time limit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace op {

struct HelperResult {
  enum class Outcome { Missing, Failed, TimedOut, TooLong, Succeeded };
  Outcome outcome = Outcome::Missing;
  std::string output;     // standard output, when it succeeded
  std::string complaint;  // the first line of its error output
  int exitStatus = 0;     // when it failed: its exit status, or 128 + signal
};

// A helper that outlives `limit`, or whose output passes `maxOutput` bytes, is killed and reaped.
HelperResult RunHelper(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                       std::size_t maxOutput = std::size_t{256} << 20);

}  // namespace op
