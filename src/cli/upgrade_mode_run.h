// The run mode without a run-mode option, the boot-time upgrade run, as main
// drives it: the install of what the package directories hold, the check of
// the staged work, the result lines, and the commit or the manifest. The
// check of staged work and the exit status of a commit serve the other runs
// that commit too.
#pragma once

#include "base/exit_status.h"
#include "cli/run_options.h"
#include "model/installer_state.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"

namespace installer {

// Whether the staged work can be committed: it fits on the flash (when it
// does not, the shortfall of each disk has been reported, "upgrade failed,
// free N kB of ...": ExitNoSpace) and every step of it can be done (when
// one cannot, it has been reported: ExitFailure). ExitSuccess otherwise.
[[nodiscard]] ExitStatus checkStagedWork(InstallerState& state, const StagedFiles& staged);

// The exit status for the outcome of a commit.
ExitStatus commitStatus(CommitResult result);

// Returns the process's exit status.
int upgradeModeRun(InstallerState& state, StagedFiles& staged, RunOptions& options);

}  // namespace installer
