// RecordedOutput: the Output of a run under test. It keeps the bytes the
// run printed, standard output and standard error apart, so that a test
// asserts what was said (escape sequences, carriage returns and all)
// without the process's own streams.
#pragma once

#include <string>
#include <string_view>

#include "base/output.h"

namespace installer {

class RecordedOutput : public Output {
 public:
  void write(std::string_view text) override { printed.append(text); }
  void flush() override { flushedUpTo = printed.size(); }
  void writeError(std::string_view text) override { errors.append(text); }

  // What was printed to standard output since the last take (`printed`
  // keeps all of it), for a test that looks at one step after another.
  std::string take() {
    std::string text = printed.substr(taken);
    taken = printed.size();
    return text;
  }
  // The same for standard error.
  std::string takeErrors() {
    std::string text = errors.substr(errorsTaken);
    errorsTaken = errors.size();
    return text;
  }
  // Whether everything printed has been flushed.
  bool allFlushed() const { return flushedUpTo == printed.size(); }

  std::string printed;  // standard output, all of it
  std::string errors;   // standard error

 private:
  size_t taken = 0;
  size_t errorsTaken = 0;
  size_t flushedUpTo = 0;
};

}  // namespace installer
