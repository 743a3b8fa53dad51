// What the installer's own install run makes of a package file, on an empty
// device held in memory: nothing is written anywhere. Every reason against
// an install that a run can be told to tolerate is tolerated (an upgrade, a
// downgrade, requirements, conflicts, a reinstall), so what is left are the
// refusals no run lets through: a damaged file, a signature that does not
// verify, a bundle that breaks its own rules. The packages the file depends
// on are taken to be installed; the marker "/ram/SECURE", which refuses
// legacy signatures, is there when `files` has it.
#pragma once

#include <string>
#include <vector>

#include "package/trust_keys.h"
#include "platform/env.h"

namespace installer {

struct DryRunVerdict {
  bool accepted = false;
  std::vector<std::string> messages;  // what the run said, in order
};

// Reads the file at `path` through `files` and installs it on the scratch
// device, checking signatures against `keys`.
DryRunVerdict dryRunInstall(Env& files, const std::string& path, const TrustKeys& keys);

}  // namespace installer
