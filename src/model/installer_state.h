// InstallerState: the state of one installer run.
//
// It owns every InstalledPackage record of the loaded database in `packages`,
// in load order (the directory listing order of "/flash/var/pdb/"); every
// lookup returns the first match in that order. Installation appends records,
// uninstallation removes and destroys them. It also holds the status line and
// the messages shown so far, which become the post-run log, and the facts
// read once at the start of the run. Whatever the run prints goes to its
// Output. main owns the one state of a process; the Env and the Output it
// names must outlive it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/output.h"
#include "model/package_info.h"
#include "platform/env.h"

namespace installer {

class InstallerState {
 public:
  InstallerState(Env& environment, Output& printer) : env(environment), output(printer) {}
  InstallerState(const InstallerState&) = delete;
  InstallerState& operator=(const InstallerState&) = delete;

  Env& env;        // where the run reads and writes
  Output& output;  // where it prints
  std::string architecture;
  std::vector<std::unique_ptr<InstalledPackage>> packages;
  std::string statusLine;
  std::vector<std::string> messages;
  bool quiet = false;
  bool recordOnly = false;       // messages are kept but not shown (a dry run)
  bool flagged = false;          // the router is in flagged state (read at the start)
  bool postlogPrepared = false;  // the post-run log was loaded and reserved
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
[[nodiscard]] bool removePackage(InstallerState& state, const InstalledPackage* package);

}  // namespace installer
