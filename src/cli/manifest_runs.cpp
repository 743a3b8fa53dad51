#include "cli/not_available.h"
#include "cli/run_modes.h"

int commitManifestRun() { return notAvailable("--commit"); }
int cancelManifestRun() { return notAvailable("--cancel"); }
