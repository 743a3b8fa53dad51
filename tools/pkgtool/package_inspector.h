// `pkgtool inspect`: shows what a package or bundle file holds and whether
// the installer would take its signatures, reading it with the installer's
// own PackageStream, header parser and signature verifier.
#pragma once

#include <ostream>
#include <string>

#include "package/trust_keys.h"

namespace installer {

// Prints the parts of the file, then for each package its header fields,
// relations, file records, digest and signature verdict. Returns 0 when the
// file is well formed to its end, holds at least one package and every
// package's signature is accepted against `keys`, and so is a bundle
// signature part where the file has one; 1 otherwise (and for a
// file that cannot be opened, which is reported on `err`).
int inspectPackageFile(const std::string& path, const TrustKeys& keys, std::ostream& out, std::ostream& err);

}  // namespace installer
