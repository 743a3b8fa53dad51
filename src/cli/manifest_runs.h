// The two run modes that act on the manifest an earlier upgrade run left
// for later: carry it out, or drop it. Each returns the process's exit
// status.
#pragma once

#include "model/installer_state.h"

namespace installer {

// --commit: carry out "/ram/MANIFEST".
int commitManifestRun(InstallerState& state);
// --cancel: drop "/ram/MANIFEST" and the temporary files it names.
int cancelManifestRun(InstallerState& state);

}  // namespace installer
