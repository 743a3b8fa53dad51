// The progress bar of a package being installed, from how far its stream
// has been read.
#pragma once

#include "model/installer_state.h"
#include "package/package_stream.h"

namespace installer {

// Shows "installing <label> [###   ]" for the position reached in `stream`
// out of its total size.
void showInstallProgress(InstallerState& state, const InstalledPackage& package, const PackageStream& stream);

}  // namespace installer
