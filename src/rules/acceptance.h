// Acceptance checks: the reasons that speak against installing a package.
//
// The same bits form the InstallFlags word of a run: the reasons it tolerates.
#pragma once

#include <cstdint>

enum AcceptReason : uint32_t {
  Upgrade = 1,       // newer than the installed package
  Downgrade = 2,     // older than the installed package
  Requirement = 8,   // system version, architecture or a dependency not met
  Conflict = 16,     // conflicts with an enabled package
  Reinstall = 32,    // same version and build time as the installed package
};

using InstallFlags = uint32_t;
