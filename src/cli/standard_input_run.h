// The run mode "-": installs one package stream read from standard input.
#pragma once

#include <istream>

#include "cli/run_options.h"
#include "model/installer_state.h"
#include "staging/staged_files.h"

namespace installer {

// Returns the process's exit status.
int standardInputRun(InstallerState& state, StagedFiles& staged, RunOptions& options, std::istream& input);

}  // namespace installer
