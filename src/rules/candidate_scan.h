// The package files of one package directory that this device may install.
//
// scanPackageDirectory reads the header parts of every package file in a
// directory and keeps the files that pass the checks which depend on the
// device rather than on the installed packages: the file is whole, built for
// this architecture, does not replace a protected branding with an
// unprotected one, is the firmware this board wants, and the device mode
// allows it. Each refused file is named in one message and left where it is.
//
// Ownership: the caller's candidate list owns the candidates it is given.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/installer_state.h"
#include "model/package_info.h"

namespace installer {

// A package file found in a package directory: what its header parts say
// (a bundle's members in `info.children`) and where the file is.
struct PackageCandidate {
  PackageInfo info;
  std::string path;  // directory text followed by the file name
};

// Appends the acceptable package files of `directory` (a path ending in "/")
// to `candidates`, in directory order. Only names ending in ".kmp" or ".dpk"
// and not beginning with "." are looked at. Refusals are reported through
// `state`, whose `architecture` is the device's. A directory that cannot be
// opened adds nothing and says nothing.
void scanPackageDirectory(InstallerState& state, const std::string& directory,
                          std::vector<std::unique_ptr<PackageCandidate>>& candidates);

}  // namespace installer
