#include "cli/not_available.h"
#include "cli/run_modes.h"

int upgradeModeRun(InstallerState&, StagedFiles&, RunOptions&) { return notAvailable("the upgrade run"); }
