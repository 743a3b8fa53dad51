// Temporary files of staged work, and what an unfinished run leaves of them.
//
// Staged contents go to temporary files named "tmp" followed by six letters
// or digits, beside their destination (or in "/ram" or "/tmp"). So that a
// run that is killed or loses power leaves nothing behind for good, the full
// name of every temporary file is recorded before the file exists: names in
// "/ram" or "/tmp" in "/ram/installer.temporaries", which goes with them
// when "/ram" is lost, every other name in
// "/flash/var/pdb/.installer-temporaries", on the storage before the file
// is made. Names are recorded a few at a time, and only names that nothing
// holds yet. The next run removes the recorded files that are still there
// (removeLeftovers), and so does a run that settles its work; only files a
// pending manifest names are kept, and their names stay recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"

namespace installer {

// "tmp" followed by six letters or digits: the name of a temporary file.
bool isTemporaryName(const std::string& path);

// The temporary names a run has recorded and not yet used, by directory.
class TemporaryRegistry {
 public:
  // A new name "DIRECTORY/tmpXXXXXX" that no file has, recorded in the
  // registry of its storage first, in `name`. Fails when the record could
  // not be written; then no file may be made.
  Status reserve(Env& env, const std::string& directory, std::string& name);
  // Whether the run has recorded any name.
  bool used() const { return anyRecorded; }

 private:
  std::string newName(Env& env, const std::string& directory);
  Status recordBatch(Env& env, const std::string& directory);

  std::map<std::string, std::vector<std::string>> spare;
  uint64_t generator = 0;
  bool anyRecorded = false;
};

// Whether `path` lies in "/ram" or "/tmp", which a power cut empties.
bool isVolatilePath(const std::string& path);

// The registry that records names in `directory`.
const char* registryFor(const std::string& directory);

// Removes every recorded temporary file that is still there, except those
// in `pending` (a pending manifest needs them) and in `spare` (what a commit
// has just put in place), and the half-written replacements of the
// installer's own files (the journal, the registries, the manifest and its
// notes). The registries then hold only the pending names that exist, or
// are removed, the one on flash durably before the call returns. Returns
// how many files went.
size_t removeLeftovers(Env& env, const std::set<std::string>& pending,
                       const std::set<std::string>& spare = std::set<std::string>());

}  // namespace installer
