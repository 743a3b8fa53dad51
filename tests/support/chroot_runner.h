// Runs a test body in a child process chrooted into a throw-away root, so
// that code naming the device's fixed paths ("/flash/var/pdb/", "/ram/...")
// works on the test's own tree. Failures of assertions in the body are
// reported back to the parent's test at their file and line.
#pragma once

#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

// Skips the current test when chroot is not possible here.
#define SKIP_UNLESS_ROOT()                                                  \
  do {                                                                      \
    if (geteuid() != 0) GTEST_SKIP() << "needs root to chroot into a test root"; \
  } while (0)

void runInChroot(const std::string& root, const std::function<void()>& body);
