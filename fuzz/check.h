// A check that holds in every build: a failure aborts, which libFuzzer
// reports with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define CHECK(condition)                                                       \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)
