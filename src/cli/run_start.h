// The start of every run that touches the flash: the lock that keeps runs
// apart, and the cleanup of what an earlier run left behind.
#pragma once

#include <memory>

#include "model/installer_state.h"
#include "platform/env.h"

namespace installer {

// Takes the lock that keeps runs apart, waiting a while for another run to
// finish. False, reported, when the lock cannot be had.
[[nodiscard]] bool lockRun(InstallerState& state, std::unique_ptr<FileLock>& lock);
// Finishes a commit that an interrupted run left and removes the temporary
// files of runs that did not finish. `writesOwnLog`: the run writes the
// post-run log at its end (otherwise a message about the interrupted
// commit goes there now). False, reported, when the journal of the
// interrupted commit cannot be read: the run must not go on.
[[nodiscard]] bool startRun(InstallerState& state, bool writesOwnLog);

}  // namespace installer
