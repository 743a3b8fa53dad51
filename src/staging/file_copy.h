// Copying a file byte for byte, with the text spinner that shows that a
// long copy goes on.
#pragma once

#include <cstdint>
#include <string>

#include "base/output.h"
#include "platform/env.h"

namespace installer {

// The spinner "|/-\" on standard output: one character, overwritten in
// place at most every 20 ticks while copies go on.
class Spinner {
 public:
  Spinner(Env& clock, Output& printer) : env(clock), output(printer) {}
  // One step, taken after every chunk a copy has written.
  void step();

 private:
  Env& env;
  Output& output;
  uint32_t lastTick = 0;  // 0 until the first step
  uint32_t index = 0;     // next character, 0..3
};

// Copies the regular file `source` byte for byte into `to`. Fails when the
// source is missing or not a regular file, or cannot be read, or `to`
// cannot take all of it; `writeFailed` tells the last apart (the failure is
// then the write's). `spinner`, when given, steps after each chunk.
Status copyFile(Env& env, const std::string& source, WritableFile& to, Spinner* spinner, bool& writeFailed);

}  // namespace installer
