// Runs a built program, as end-to-end tests do, and collects what it did.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments`, feeding `input` on standard input and
// adding `environment` (name, value; a null-like value "\x01unset" removes it).
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = std::string(),
                         const std::vector<std::pair<std::string, std::string>>& environment = {});

// The installer under test, with a settings file that holds only defaults
// unless the test names another through `environment`.
ProcessResult runInstaller(const std::vector<std::string>& arguments, const std::string& input = std::string(),
                           const std::vector<std::pair<std::string, std::string>>& environment = {});
