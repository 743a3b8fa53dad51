// The install step of the boot-time upgrade run (upgrade_mode_run.h):
// installs the package files found in the package directories, keeps the user's enable/disable choices, and checks
// that every package enabled before is still there afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "model/installer_state.h"
#include "staging/staged_files.h"

namespace installer {

// Fills `installed` with copies of the records installed, in installation
// order. Returns false when the run failed; the
// failure has been reported and every staged change dropped.
[[nodiscard]] bool installFoundPackages(InstallerState& state, StagedFiles& staged, uint32_t flags,
                                        std::vector<PackageInfo>& installed);

}  // namespace installer
