// Acceptance checks: the reasons that speak against installing a package.
//
// checkAcceptance does not refuse anything itself. It returns a mask of the
// reasons against a package just read from a package file, and the caller
// compares it with the InstallFlags word of the run: the same bits, saying
// which reasons the run tolerates. For each package at most one message is
// said, the first that the flags do not silence, so the user sees the main
// reason rather than a cascade of follow-up complaints.
#pragma once

#include <cstdint>

#include "model/installer_state.h"
#include "model/package_info.h"

namespace installer {

enum AcceptReason : uint32_t {
  Upgrade = 1,      // newer than the installed package
  Downgrade = 2,    // older than the installed package
  Requirement = 8,  // system version, architecture or a dependency not met
  Conflict = 16,    // conflicts with an enabled package
  Reinstall = 32,   // same version and build time as the installed package
};

using InstallFlags = uint32_t;

// Refusals that no single flag tolerates (flagged state, device mode): only
// a flags word holding both Requirement and Conflict lets them through.
constexpr uint32_t Forbidden = Requirement | Conflict;

// The reasons against installing `package` (not yet in state.packages) over
// what `state` holds. `flags` silences the messages of tolerated reasons;
// the flagged-state warning and the device-mode error are said regardless.
// Reads "/ram/SECURE" and the device-mode settings afresh on every call.
[[nodiscard]] uint32_t checkAcceptance(InstallerState& state, const InstalledPackage& package, uint32_t flags);

// False only for the package "system" when the device mode restricts it and
// no safe-package range holds its version and build time.
[[nodiscard]] bool isAllowedByDeviceMode(const PackageInfo& package);

}  // namespace installer
