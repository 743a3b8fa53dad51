// The bytes the database writer stages, read back from the temporary files,
// and how it reports the files it cannot write.
#include "pdb/database_writer.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/pdb_records.h"
#include "support/recorded_output.h"
#include "support/router_device.h"

namespace installer {
namespace {

std::string failure(const char* label, const char* file) {
  return std::string("ERROR: installation of ") + label + " failed: could not create meta/" + file +
         ": Read-only file system\n";
}

// What is staged for a record whose directory holds every file of an
// earlier version: "provides" and "conflicts" are absent when empty,
// "bundle" without a bundle, a state file that does not fit. A bundle has
// no "files" (its stale one stays); a boot image and a package that asks
// for no meta files get state files only. When the n-th file cannot be
// made, the report instead; a failed state file fails nothing.
TEST(DatabaseWriter, WritePackageMeta) {
  struct Case {
    const char* record;
    size_t failing;
    bool result;
    std::string expected;
  };
  const Case cases[] = {
      {"p v=7.1 needs=r:117506048:0 needs=d:0:7 provides=ppp:1:2:-3 provides=w:0:0:2147483647 excludes=o:0:4294967295 "
       "file=/x/b file=/x file=/a file=y file= file=/",
       0, true,
       "-p/bundle p/conflicts=o 0 4294967295| p/deps=r 117506048 0|d 0 7| -p/disabled -p/enabled p/files=a|x|x/b|y| "
       "p/provides=ppp 1 2 -3|w 0 0 2147483647| p/version=117532160 1000|"},
      {"p", 0, true,
       "-p/bundle -p/conflicts p/deps= -p/disabled -p/enabled p/files= -p/provides p/version=16803328 1000|"},
      {"p in=all bundle", 0, true,
       "p/bundle=all| -p/conflicts p/deps= -p/disabled -p/enabled -p/provides p/version=16803328 1000|"},
      {"p boot off", 0, true, "p/disabled=auto| -p/enabled"},
      {"p nometa off user", 0, true, "p/disabled=user| -p/enabled"},
      {"p nometa user", 0, true, "-p/disabled p/enabled=user|"},
      {"p", 2, false, failure("p-1.0", "version")},
      {"p", 3, false, failure("p-1.0", "deps")},
      {"p provides=x", 4, false, failure("p-1.0", "provides")},
      {"p excludes=x", 4, false, failure("p-1.0", "conflicts")},
      {"p in=all", 4, false, failure("all", "bundle")},
      {"p", 4, false, failure("p-1.0", "files")},
      {"p off", 5, true, failure("p-1.0", "disabled")},
      {"p user", 5, true, failure("p-1.0", "enabled")},
  };
  for (const auto& [record, failing, result, expected] : cases) {
    auto device = routerDevice(4096, 1 << 20);
    SimulatedDevice& env = *device;
    writeFiles(env, "/flash/var/pdb/p/", "provides=;conflicts=;bundle=;disabled=;enabled=;files=");
    env.failAt(EnvCall::OpenWrite, failing, EROFS);  // the first open records the directory
    RecordedOutput output;
    InstallerState state(env, output);
    StagedFiles staged(env);
    addRecords(state, record);
    EXPECT_EQ(writePackageMeta(state, *state.packages[0], staged), result) << record;
    EXPECT_EQ(failing == 0 ? stagedOf(env, staged) : output.printed, expected) << record;
  }
}

// markEnabled settles the record even when its state file fails, and says
// whether the file was written.
TEST(DatabaseWriter, MarkEnabled) {
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& env = *device;
  env.failAt(EnvCall::OpenWrite, 2, ENOSPC);  // the first records the directory among the temporary ones
  RecordedOutput output;
  InstallerState state(env, output);
  StagedFiles staged(env);
  addRecords(state, "p off enable; q off user enable");
  EXPECT_TRUE(markEnabled(state, *state.packages[0], staged));  // no "enabled" file to write
  EXPECT_FALSE(markEnabled(state, *state.packages[1], staged));
  EXPECT_EQ(output.printed, "ERROR: installation of q-1.0 failed: disk is too small\n");
  EXPECT_EQ(describeRecords(state), "p 16803328 1000\nq 16803328 1000 user\n");
}

}  // namespace
}  // namespace installer
