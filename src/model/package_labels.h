// How messages name packages and dependencies: "system-7.1.3", "ipv6-7.1".
#pragma once

#include <string>

#include "model/package_info.h"

namespace installer {

// name "-" version, always with a version ("x-0.0").
std::string packageLabel(const PackageInfo& package);
// The name, followed by "-" and the minimum version when that is not 0.
std::string dependencyLabel(const DependencyRef& ref);
// A bundle member is named by its bundle, everything else by packageLabel.
std::string displayLabel(const InstalledPackage& package);

}  // namespace installer
