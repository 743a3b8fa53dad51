// Runs a built program, for the few tests that need the real process: its
// command line, its exit status, chroot.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace installer {

struct ProcessResult {
  int exitStatus = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments`, feeding `input` on standard input, with
// `environment` added.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = std::string(),
                         const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace installer

// Skips the current test unless it runs as root (chroot, mounts, loop devices).
#define SKIP_UNLESS_ROOT(why)                                  \
  do {                                                         \
    if (geteuid() != 0) GTEST_SKIP() << "needs root: " << why; \
  } while (0)
