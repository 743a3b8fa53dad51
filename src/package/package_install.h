// Installing one package: from its header part to the end of its signature.
//
// installPackage reads one package off a PackageStream (a stand-alone package
// or one member of a bundle), decides with the acceptance checks whether it is
// installed at all, takes the place of the older package of the same name,
// stages its files and database record, and hands the new record to the
// InstallerState, which owns it from then on. Everything it changes on flash
// goes through the run's StagedFiles, except the marker "/rw/CONVERT", which
// the boot scripts need even when the package is then refused.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "pdb/installer_state.h"
#include "staging/staged_files.h"

class PackageStream;

// REQUIRES: `stream` stands at the package's header part, digests on.
//
// `mode` holds the AcceptReason bits the run tolerates; `userChoices` maps
// package names to the state the user chose (1 = disabled); `bundleRef` is
// set for a member of a bundle. `imageDir` receives the database directory
// of a package that carries a squashfs image, `bootImage` whether its image
// is to be used as the boot image now (either may be null).
//
// Returns the new record, now owned by `state.packages` (installed); an
// existing record of `state.packages` (not installed because an equal package
// is installed, or a bundle member that is not needed; its stream has been
// read to its end and its signature verified); or null (refused or failed,
// reported where there is something to say).
[[nodiscard]] InstalledPackage* installPackage(InstallerState& state, StagedFiles& staged, PackageStream& stream,
                                               uint32_t mode, const std::map<std::string, uint8_t>& userChoices,
                                               const DependencyRef* bundleRef, std::string* imageDir, bool* bootImage);

// Makes the package's database directory usable: a staged removal of the
// directory itself is dropped (the directory is reused). False when another
// operation is staged for the directory, or something that is not a
// directory stands there.
[[nodiscard]] bool prepareDatabaseDir(const InstalledPackage& package, StagedFiles& staged);
