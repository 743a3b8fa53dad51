// Resolution of pending uninstall, enable and disable actions.
#pragma once

#include "pdb/installer_state.h"
#include "staging/staged_files.h"

bool applyPendingActions(InstallerState& state, StagedFiles& staged, int verbosity);
