// StdioOutput: the Output of the installer process, on the C library's
// standard output and standard error.
//
// It keeps stdio's buffering as it is (line buffered on a terminal, fully
// buffered in a pipe, standard error unbuffered), so that the bytes and the
// moments they leave the process are those the code asks for with `flush`;
// what is still buffered at the end goes out when the process exits.
#pragma once

#include "base/output.h"

namespace installer {

class StdioOutput final : public Output {
 public:
  void write(std::string_view text) override;
  void flush() override;
  void writeError(std::string_view text) override;
};

}  // namespace installer
