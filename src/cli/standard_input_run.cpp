#include "cli/not_available.h"
#include "cli/run_modes.h"

int standardInputRun(InstallerState&, StagedFiles&, RunOptions&) { return notAvailable("installing from standard input"); }
