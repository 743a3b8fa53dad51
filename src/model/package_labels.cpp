#include "model/package_labels.h"

namespace installer {

std::string packageLabel(const PackageInfo& package) { return package.name + "-" + formatVersion(package.version); }

std::string dependencyLabel(const DependencyRef& ref) {
  if (ref.min == 0) return ref.name;
  return ref.name + "-" + formatVersion(ref.min);
}

std::string displayLabel(const InstalledPackage& package) {
  if (!package.bundle.name.empty()) return dependencyLabel(package.bundle);
  return packageLabel(package);
}

}  // namespace installer
