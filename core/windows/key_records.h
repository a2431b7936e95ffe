// Turns the console's input records into key events, one record at a time. A record can yield no
// event (a high surrogate waits for its low one), one, or many (a held key comes as one record
// with a repeat count).
#pragma once

#include <windows.h>

#include <deque>

#include "../console_device.h"

namespace op::windows {

class KeyRecordReader {
 public:
  void Take(const INPUT_RECORD& record);
  bool HasKey() const { return !runs_.empty(); }
  KeyEvent Next();  // only when HasKey()

 private:
  void DropHighSurrogate();

  // One event repeated: a held key costs one entry, not one per repeat.
  struct Run {
    KeyEvent event;
    unsigned count = 0;
  };
  std::deque<Run> runs_;
  char32_t high_ = 0;  // a high surrogate waiting for its low one
  bool highAlt_ = false;
};

}  // namespace op::windows
