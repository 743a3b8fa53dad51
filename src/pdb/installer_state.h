// InstallerState: the process-wide state of one installer run.
//
// It owns every InstalledPackage record of the loaded database in `packages`,
// in load order (the directory listing order of "/flash/var/pdb/"); every
// lookup returns the first match in that order. Installation appends records,
// uninstallation removes and destroys them. It also holds the status line and
// the messages shown so far, which become the post-run log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pdb/package_info.h"

class InstallerState {
 public:
  InstallerState() = default;
  InstallerState(const InstallerState&) = delete;
  InstallerState& operator=(const InstallerState&) = delete;

  // The singleton, created empty on first use and never destroyed. Tests
  // build states of their own instead.
  static InstallerState& instance();

  std::string architecture;
  std::vector<std::unique_ptr<InstalledPackage>> packages;
  std::string statusLine;
  std::vector<std::string> messages;
  bool quiet = false;
};

// Lookups over `packages`, all by exact name (nameEquals), first match wins.
int indexOfName(const InstallerState& state, const std::string& name);
InstalledPackage* findByName(const InstallerState& state, const std::string& name);
// The first enabled record named `name` or providing it (any version); when
// all such records are disabled, the last of them.
InstalledPackage* findInstalled(const InstallerState& state, const std::string& name);
// The first enabled record that conflicts with `package`.
InstalledPackage* findConflicting(const InstallerState& state, const PackageInfo& package);
// Appends every non-placeholder record that satisfies or provides `ref`.
void collectProviders(const InstallerState& state, const DependencyRef& ref, std::vector<InstalledPackage*>& out);

// Removes the record at `index` from `packages` and destroys it.
void removePackageAt(InstallerState& state, size_t index);
// Removes `package` from `packages` and destroys it; false when it is not there.
bool removePackage(InstallerState& state, const InstalledPackage* package);
