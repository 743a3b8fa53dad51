// `pkgtool inspect`: shows what a package or bundle file holds and whether
// the installer would take its signatures, reading it with the installer's
// own PackageStream, header parser and signature verifier.
#pragma once

#include <ostream>
#include <string>

#include "package/trust_keys.h"

namespace installer {

// Names the trust the signatures are checked against (`trustName`, and
// whether it is the development key), prints the parts of the file, then
// for each package its header fields,
// relations, file records, digest and signature verdict, a bundle signature
// part where the file has one, then which bytes of the file each signature
// covers and which no signature covers, then what the installer's own
// install run makes of the file (a dry run on an empty device in memory,
// see install_dry_run.h), which is the verdict. Returns 0 exactly when
// that run accepts the file (the report's last word is then "accepted"); 1
// otherwise, also for a file that cannot be opened (reported on `err`).
int inspectPackageFile(const std::string& path, const TrustKeys& keys, const std::string& trustName, std::ostream& out,
                       std::ostream& err);

}  // namespace installer
