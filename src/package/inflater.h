// Inflater: one zlib-format stream decompressed step by step.
//
// The library behind it is chosen when the project is configured
// (INSTALLER_INFLATE: ISA-L where it is found, else zlib); the build
// compiles inflater_zlib.cpp, inflater_isal.cpp where ISA-L is used, and one
// inflate_backends_*.cpp that lists them. Both read the same streams to the
// same bytes and take the same header: a compression method other than
// deflate, a window over 32 KiB, a bad header check or a preset dictionary
// is damage. Each holds the input it was fed (owned by the caller, valid
// until it is consumed) and a bounded state of its own (a 32 KiB window and
// its tables).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace installer {

enum class InflateStatus {
  Progress,  // more may follow: call again, with more input once the input is used up
  End,       // the stream ended and its checksum matched
  Failed,    // damaged data; the output of this call is not to be used
};

class Inflater {
 public:
  virtual ~Inflater() = default;

  // REQUIRES: the input fed before has been consumed (inputLeft() == 0).
  virtual void feed(const uint8_t* bytes, size_t n) = 0;
  virtual size_t inputLeft() const = 0;
  // Inflates fed input into `output`; `produced` is set to the bytes written.
  [[nodiscard]] virtual InflateStatus inflate(uint8_t* output, size_t size, size_t& produced) = 0;
};

struct InflateBackend {
  const char* name;  // "zlib", "isal"
  std::unique_ptr<Inflater> (*make)();
};

// The backends this build has, the configured one first.
const std::vector<InflateBackend>& inflateBackends();

std::unique_ptr<Inflater> newZlibInflater();
std::unique_ptr<Inflater> newIsalInflater();

}  // namespace installer
