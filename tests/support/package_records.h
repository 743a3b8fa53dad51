// Short-hands for building package database states in memory: records
// appended to an InstallerState of the test's own, references, and the
// capture of what the message functions print.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/installer_state.h"
#include "base/package_version.h"

// "name-major.minor[.build]" for a final release: v(7, 1, 3) -> "7.1.3".
constexpr PackageVersion v(unsigned major, unsigned minor, unsigned build = 0) {
  return makeVersion(major, minor, Final, build);
}

DependencyRef ref(const std::string& name, PackageVersion min = 0, PackageVersion max = 0, int32_t priority = 0);

// Appends an enabled record with pending None and returns it.
InstalledPackage& addRecord(InstallerState& state, const std::string& name, PackageVersion version,
                            uint32_t buildTime = 1000);

// The pending action of every record, in list order, as "name:word" joined
// by spaces ("a: b:uninstall"), and the enabled state as "name+"/"name-".
std::string pendingOf(const InstallerState& state);
std::string enabledOf(const InstallerState& state);

// Runs `body` with standard output captured and returns what it printed.
template <class Body>
std::string captureOutput(Body body) {
  testing::internal::CaptureStdout();
  body();
  return testing::internal::GetCapturedStdout();
}
