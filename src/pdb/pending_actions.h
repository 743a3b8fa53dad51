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
// Verbosity: 0 says nothing; 1 or more shows the disable, enable, conflict
// and dependency messages; 2 or more also the uninstall messages.
#pragma once

#include <vector>

#include "pdb/installer_state.h"
#include "staging/staged_files.h"

// True when something was uninstalled, disabled or enabled; false when
// nothing was pending, or when the outcome would have left no package
// active (then every pending action is dropped and nothing is staged).
bool applyPendingActions(InstallerState& state, StagedFiles& staged, int verbosity);

// Enables each record of `list`, in order.
// REQUIRES: every record is owned by `state`.
void enablePackages(InstallerState& state, StagedFiles& staged, const std::vector<InstalledPackage*>& list,
                    int verbosity);
