// A small tmpfs mounted over a directory of a test root for the length of a
// test, so that tests of file-system boundaries (renames across devices,
// free-space figures) see a second file system of known size.
#pragma once

#include <string>

class ScratchMount {
 public:
  // Mounts a tmpfs of `sizeBytes` on `directory` (created when missing).
  ScratchMount(const std::string& directory, unsigned long sizeBytes);
  ~ScratchMount();
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool mounted() const { return isMounted; }
  // Why the mount failed, for GTEST_SKIP.
  const std::string& failure() const { return reason; }

 private:
  std::string where;
  bool isMounted = false;
  std::string reason;
};

// Declare after the TempRoot it lives in, so it is unmounted before the root
// is removed.
#define SKIP_UNLESS_MOUNTED(mount)                                                        \
  do {                                                                                    \
    if (!(mount).mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << (mount).failure(); \
  } while (0)
