// Loading the package database into InstallerState.
//
// The database is one directory per package under "/flash/var/pdb/". A
// package is loaded from the header parts of its image (the package file
// kept in its directory as "image", or under its directory's name in the
// repository "/rw/pckg/.images/"); a package whose image cannot be read is
// restored from the meta files of its directory. Then the state files
// ("disabled", "enabled") and the schedule file give each record its
// enabled state and pending action. A record that cannot be restored
// whole is kept with `pending` Uninstall, so the next resolution removes
// it. The records go into `packages` in the directory's listing order,
// which every first-match lookup depends on; the state owns them.
#pragma once

#include <string>

#include "model/installer_state.h"
#include "pdb/package_state.h"  // readPackageState, readRefList

namespace installer {

// Fills `state` with the whole database; warns "could not open repo" and
// leaves it empty when "/flash/var/pdb/" cannot be opened.
void loadDatabase(InstallerState& state, bool quiet, const std::string& architecture);

}  // namespace installer
