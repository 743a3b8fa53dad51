// Run modes whose machinery has not been built yet. They refuse loudly
// rather than pretend to succeed.
#include <cstdio>

#include "cli/run_modes.h"

namespace {

int notAvailable(const char* mode) {
  std::fprintf(stderr, "installer: %s is not available in this build\n", mode);
  return 1;
}

}  // namespace

int commitManifestRun() { return notAvailable("--commit"); }
int cancelManifestRun() { return notAvailable("--cancel"); }
int listingRun(InstallerState&) { return notAvailable("--show"); }
int standardInputRun(InstallerState&, StagedFiles&, RunOptions&) { return notAvailable("installing from standard input"); }
int upgradeModeRun(InstallerState&, StagedFiles&, RunOptions&) { return notAvailable("the upgrade run"); }
