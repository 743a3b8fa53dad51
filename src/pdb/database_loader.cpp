#include "pdb/database_loader.h"

void loadDatabase(InstallerState& state, bool quiet, const std::string& architecture) {
  state.quiet = quiet;
  state.architecture = architecture;
}
