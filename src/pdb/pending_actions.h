// Resolution of pending uninstall, enable and disable actions.
//
// Records get a pending action from a schedule file, from loading, or from
// the installation of packages. applyPendingActions resolves all of them
// together so that the outcome is consistent (bundles pass their action on,
// active packages keep what they need, conflicting packages are disabled,
// packages whose needs go away follow them, empty bundles go) and then
// carries the outcome out as staged file changes. Uninstalled records are
// removed from the state's `packages` and destroyed; the staged set only
// gains entries.
//
// Verbosity: Silent says nothing; Normal shows the disable, enable,
// conflict and dependency messages; Verbose also the uninstall messages.
#pragma once

#include <vector>

#include "model/installer_state.h"
#include "staging/staged_files.h"

namespace installer {

enum class Verbosity { Silent = 0, Normal = 1, Verbose = 2 };

// True when something was uninstalled, disabled or enabled; false when
// nothing was pending, or when the outcome would have left no package
// active (then every pending action is dropped and nothing is staged).
// Either way the outcome is settled and whatever was refused has been
// reported (at any verbosity but Silent).
[[nodiscard]] bool applyPendingActions(InstallerState& state, StagedFiles& staged, Verbosity verbosity);

// Enables each record of `list`, in order.
// REQUIRES: every record is owned by `state`.
void enablePackages(InstallerState& state, StagedFiles& staged, const std::vector<InstalledPackage*>& list,
                    Verbosity verbosity);

}  // namespace installer
