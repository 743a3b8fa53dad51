#include "cli/run_modes.h"
#include "rules/package_listing.h"

int listingRun(InstallerState& state) {
  listPackages(state);
  return 0;
}
