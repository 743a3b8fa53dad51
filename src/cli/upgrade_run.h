// The boot-time upgrade run: installs the package files found in the
// package directories, keeps the user's enable/disable choices, and checks
// that every package enabled before is still there afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "pdb/installer_state.h"
#include "pdb/package_info.h"
#include "staging/staged_files.h"

// Fills `installed` with copies of the records installed, in installation
// order (their `children` cleared). Returns false when the run failed; the
// failure has been reported and every staged change dropped.
[[nodiscard]] bool runUpgrade(InstallerState& state, StagedFiles& staged, uint32_t flags,
                              std::vector<PackageInfo>& installed);
