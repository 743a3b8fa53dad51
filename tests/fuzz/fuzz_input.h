// What the fuzz targets share: the input as text, and a device in memory.
//
// Targets that read several files take them from one input, file after
// file, separated by a zero byte; each file is its device path, a line
// feed, then its contents ("/flash/var/pdb/hello/version\n117506048 0").
// A piece without a line feed or with a path that cannot be made is
// skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/output.h"
#include "platform/scratch_env.h"

namespace installer {

// Enough for any package a seed grows into; small enough that an input
// cannot make the process grow past what libFuzzer allows it.
constexpr uint64_t scratchCapacity = 16u << 20;

// The targets run quiet; whatever still reaches the Output is dropped.
class DroppedOutput : public Output {
 public:
  void write(std::string_view) override {}
  void flush() override {}
  void writeError(std::string_view) override {}
};

inline std::string textOf(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline void addFiles(ScratchEnv& env, const std::string& input) {
  for (size_t start = 0; start < input.size();) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) end = input.size();
    size_t newline = input.find('\n', start);
    if (newline < end) {
      static_cast<void>(
          env.addFile(input.substr(start, newline - start), input.substr(newline + 1, end - newline - 1)));
    }
    start = end + 1;
  }
}

}  // namespace installer
