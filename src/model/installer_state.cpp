#include "model/installer_state.h"

namespace installer {

int indexOfName(const InstallerState& state, const std::string& name) {
  for (size_t i = 0; i < state.packages.size(); ++i) {
    if (nameEquals(state.packages[i]->name, name)) return static_cast<int>(i);
  }
  return -1;
}

InstalledPackage* findByName(const InstallerState& state, const std::string& name) {
  int index = indexOfName(state, name);
  return index < 0 ? nullptr : state.packages[static_cast<size_t>(index)].get();
}

InstalledPackage* findInstalled(const InstallerState& state, const std::string& name) {
  DependencyRef anyVersion;
  anyVersion.name = name;
  InstalledPackage* lastDisabled = nullptr;
  for (const auto& package : state.packages) {
    if (!nameEquals(package->name, name) && !providesRef(*package, anyVersion)) continue;
    if (!package->disabled) return package.get();
    lastDisabled = package.get();
  }
  return lastDisabled;
}

InstalledPackage* findConflicting(const InstallerState& state, const PackageInfo& package) {
  for (const auto& record : state.packages) {
    if (!record->disabled && conflictsWith(*record, package)) return record.get();
  }
  return nullptr;
}

void collectProviders(const InstallerState& state, const DependencyRef& ref, std::vector<InstalledPackage*>& out) {
  for (const auto& record : state.packages) {
    if (isPlaceholder(*record)) continue;
    if (satisfies(*record, ref) || providesRef(*record, ref)) out.push_back(record.get());
  }
}

void removePackageAt(InstallerState& state, size_t index) {
  state.packages.erase(state.packages.begin() + static_cast<std::ptrdiff_t>(index));
}

bool removePackage(InstallerState& state, const InstalledPackage* package) {
  for (size_t i = 0; i < state.packages.size(); ++i) {
    if (state.packages[i].get() == package) {
      removePackageAt(state, i);
      return true;
    }
  }
  return false;
}

}  // namespace installer
