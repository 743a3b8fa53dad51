// Temporary files of staged work, and what an unfinished run leaves of them.
//
// Staged contents go to temporary files named "tmp" followed by six
// characters, beside their destination (or in "/ram" or "/tmp"). So that a
// run that is killed or loses power leaves nothing behind for good, every
// directory that gets a temporary file is first recorded in the registry
// "/flash/.installer-temporaries", on the storage before the temporary file
// exists. The next run removes the temporary files of the recorded
// directories that no pending manifest names (removeLeftovers); a run that
// settles all its work (committed or cancelled) removes the registry itself.
// A manifest keeps it, so that its temporary files are found again if the
// manifest is lost with "/ram" at a reboot.
#pragma once

#include <cstddef>
#include <set>
#include <string>

#include "platform/env.h"

namespace installer {

// "tmp" followed by six letters or digits: the name of a temporary file.
bool isTemporaryName(const std::string& path);

// The directories a set of staged work has recorded.
class TemporaryRegistry {
 public:
  // Records `directory` before the first temporary file is made there;
  // false (errno) when the registry could not be written to the storage.
  [[nodiscard]] bool record(Env& env, const std::string& directory);
  bool empty() const { return recorded.empty(); }

 private:
  std::set<std::string> recorded;
};

// Removes the registry: nothing of the run's temporary files is left. Kept
// while a manifest is pending, which may name files of an earlier run.
void forgetTemporaries(Env& env);

// Removes the temporary files in the registered directories except those
// named in `keep`, and the half-written replacements of the manifest and of
// the commit journal; then the registry, unless a kept file needs it.
// Returns how many files were removed.
size_t removeLeftovers(Env& env, const std::set<std::string>& keep);

}  // namespace installer
