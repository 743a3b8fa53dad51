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

#include "model/installer_state.h"
#include "package/trust_keys.h"
#include "staging/staged_files.h"

namespace installer {

class PackageStream;

// The states users chose for packages, by name: 1 = disabled, 0 = enabled.
using UserChoices = std::map<std::string, uint8_t>;

struct PackageInstallRequest {
  uint32_t mode;  // the AcceptReason bits the run tolerates
  const UserChoices& userChoices;
  const DependencyRef* bundle;  // the bundle, for a member of one; else null
  const TrustKeys& keys;        // the keys a signature must verify against
};

// What an install found out besides its record.
struct PackageInstallOutcome {
  std::string imageDirectory;  // the database directory of a package that carries a squashfs image
  bool bootImage = false;      // the package's image is to be used as the boot image now
};

// REQUIRES: `stream` stands at the package's header part, digests on.
//
// Returns the new record, now owned by `state.packages` (installed); an
// existing record of `state.packages` (not installed because an equal package
// is installed, or a bundle member that is not needed; its stream has been
// read to its end and its signature verified); or null (refused or failed,
// reported where there is something to say).
[[nodiscard]] InstalledPackage* installPackage(InstallerState& state, StagedFiles& staged, PackageStream& stream,
                                               const PackageInstallRequest& request, PackageInstallOutcome& outcome);

// Makes the package's database directory usable: a staged removal of the
// directory itself is dropped (the directory is reused). False when another
// operation is staged for the directory, or something that is not a
// directory stands there.
[[nodiscard]] bool prepareDatabaseDir(const InstalledPackage& package, StagedFiles& staged);

}  // namespace installer
