#include "cli/not_available.h"
#include "cli/run_modes.h"

int listingRun(InstallerState&) { return notAvailable("--show"); }
