#include "pdb/pending_actions.h"

#include "model/messages.h"
#include "model/package_labels.h"
#include "pdb/database_writer.h"
#include "pdb/package_selection.h"

namespace installer {

namespace {

using Action = PendingAction;

bool isEnabledIdle(const InstalledPackage& p) { return !p.disabled && p.pending == Action::None; }
bool isBeingEnabled(const InstalledPackage& p) { return p.disabled && p.pending == Action::Enable; }

// A bundle's action reaches every sub-package that names it.
void passBundleActions(InstallerState& state) {
  for (const auto& record : state.packages) {
    InstalledPackage& member = *record;
    if (member.bundle.name.empty()) continue;
    const InstalledPackage* bundle = findByName(state, member.bundle.name);
    if (bundle == nullptr) continue;
    switch (bundle->pending) {
      case Action::Disable:
        if (member.pending != Action::Uninstall) member.pending = Action::Disable;
        break;
      case Action::Uninstall:
        member.pending = Action::Uninstall;
        break;
      case Action::Enable:
        if (member.disabled) member.pending = Action::Enable;
        break;
      case Action::None:
        break;
    }
  }
}

void keepActiveDependencies(InstallerState& state, Verbosity verbosity) {
  for (size_t i = 0; i < state.packages.size(); ++i) {
    InstalledPackage& package = *state.packages[i];
    if (staysActive(package)) keepDependencies(state, package, verbosity != Verbosity::Silent);
  }
}

// Settles the conflicts of one active package with the others. A package
// being enabled wins over an idle one whichever excludes the other; of two
// being enabled, the one the other excludes gives way.
void settleConflicts(InstallerState& state, InstalledPackage& package, Verbosity verbosity) {
  for (const auto& record : state.packages) {
    InstalledPackage& other = *record;
    if (&other == &package || !(isEnabledIdle(other) || isBeingEnabled(other))) continue;
    if (conflictsWith(package, other)) {
      if (other.pending == Action::None) other.pending = Action::Disable;
    } else if (package.pending == Action::Enable && conflictsWith(other, package)) {
      if (other.pending == Action::None) {
        other.pending = Action::Disable;
      } else {
        if (verbosity != Verbosity::Silent) {
          warning(state, "can not enable %s: %s conflicts with it", package.name.c_str(), packageLabel(other).c_str());
        }
        package.pending = Action::None;
        return;
      }
    }
  }
}

void resolveConflicts(InstallerState& state, Verbosity verbosity) {
  for (const auto& record : state.packages) {
    if (staysActive(*record)) settleConflicts(state, *record, verbosity);
  }
}

// Gives `package` the action that its unmet dependencies call for; true
// when its pending action changed.
bool followDependencies(InstallerState& state, InstalledPackage& package) {
  for (const DependencyRef& dependency : package.deps) {
    std::vector<InstalledPackage*> providers;
    collectProviders(state, dependency, providers);
    int fate = summarizeFate(providers);
    if (fate == FateRemoved && package.pending != Action::Uninstall) {
      package.pending = Action::Uninstall;
      return true;
    }
    bool leaving = package.pending == Action::Uninstall || package.pending == Action::Disable;
    bool staysDisabled = package.disabled && package.pending == Action::None;
    if (fate == FateDisabled && !leaving && !staysDisabled) {
      package.pending = Action::Disable;
      return true;
    }
  }
  return false;
}

// Repeated until nothing changes: each change moves a record one step
// towards Uninstall, so this ends.
void removeUnmetDependents(InstallerState& state) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (const auto& record : state.packages) {
      if (followDependencies(state, *record)) {
        changed = true;
        break;
      }
    }
  }
}

enum class MemberFate { Stays, Disabled, Removed };

MemberFate fateOfMember(const InstalledPackage& member) {
  if (staysActive(member)) return MemberFate::Stays;
  if (member.disabled || member.pending == Action::Disable) {
    return member.pending == Action::Uninstall ? MemberFate::Removed : MemberFate::Disabled;
  }
  return MemberFate::Removed;
}

// A bundle with no sub-package left goes; one whose sub-packages are all
// disabled is disabled (or, when it was about to be enabled, stays as it is).
void settleBundle(InstallerState& state, InstalledPackage& bundle) {
  bool someDisabled = false;
  for (const auto& record : state.packages) {
    const InstalledPackage& member = *record;
    if (isPlaceholder(member) || !nameEquals(member.bundle.name, bundle.name)) continue;
    MemberFate fate = fateOfMember(member);
    if (fate == MemberFate::Stays) return;
    if (fate == MemberFate::Disabled) someDisabled = true;
  }
  if (!someDisabled) {
    bundle.pending = Action::Uninstall;
  } else if (bundle.disabled) {
    if (bundle.pending == Action::Enable) bundle.pending = Action::None;
  } else {
    bundle.pending = Action::Disable;
  }
}

void settleBundles(InstallerState& state) {
  for (const auto& record : state.packages) {
    if (record->isBundle && record->pending != Action::Uninstall) settleBundle(state, *record);
  }
}

bool someoneStaysActive(const InstallerState& state) {
  for (const auto& record : state.packages) {
    if (staysActive(*record)) return true;
  }
  return false;
}

void uninstallPackage(InstallerState& state, StagedFiles& staged, InstalledPackage& package, Verbosity verbosity) {
  std::string label = packageLabel(package);
  if (verbosity == Verbosity::Verbose) setStatusLine(state, "uninstalling " + label + "...");
  stagePackageRemoval(staged, package);
  static_cast<void>(removePackage(state, &package));  // taken from the list a moment ago
  if (verbosity == Verbosity::Verbose) info(state, "uninstalled %s", label.c_str());
}

void disablePackage(InstallerState& state, StagedFiles& staged, InstalledPackage& package, Verbosity verbosity) {
  std::string label = packageLabel(package);
  if (verbosity != Verbosity::Silent) setStatusLine(state, "disabling " + label + "...");
  // A state file that cannot be written has been reported; the record is
  // disabled all the same.
  static_cast<void>(writeDisabledState(state, package, staged));
  package.disabled = true;
  package.pending = Action::None;
  if (verbosity != Verbosity::Silent) info(state, "disabled %s", label.c_str());
}

// The records to enable, ordered so that each follows what it needs. A
// record that the selection passes over (a second copy of the same
// package) is left as it is.
std::vector<InstalledPackage*> orderEnableList(InstallerState& state, const std::vector<InstalledPackage*>& enable) {
  std::vector<PackageInfo*> ordered(enable.begin(), enable.end());
  selectPackages(state, ordered, NoFloor, false);
  std::vector<InstalledPackage*> result;
  for (PackageInfo* record : ordered) result.push_back(static_cast<InstalledPackage*>(record));
  for (InstalledPackage* record : enable) record->pending = Action::None;
  return result;
}

bool carryOut(InstallerState& state, StagedFiles& staged, Verbosity verbosity) {
  std::vector<InstalledPackage*> removal;
  std::vector<InstalledPackage*> enable;
  for (const auto& record : state.packages) {
    if (record->pending == Action::Uninstall || record->pending == Action::Disable) removal.push_back(record.get());
    if (record->pending == Action::Enable) enable.push_back(record.get());
  }
  std::vector<InstalledPackage*> ordered = orderEnableList(state, enable);
  for (auto it = removal.rbegin(); it != removal.rend(); ++it) {
    if ((*it)->pending == Action::Uninstall) {
      uninstallPackage(state, staged, **it, verbosity);
    } else {
      disablePackage(state, staged, **it, verbosity);
    }
  }
  enablePackages(state, staged, ordered, verbosity);
  return !removal.empty() || !enable.empty();
}

}  // namespace

bool applyPendingActions(InstallerState& state, StagedFiles& staged, Verbosity verbosity) {
  passBundleActions(state);
  keepActiveDependencies(state, verbosity);
  resolveConflicts(state, verbosity);
  removeUnmetDependents(state);
  settleBundles(state);
  if (!state.packages.empty() && !someoneStaysActive(state)) {
    for (const auto& record : state.packages) record->pending = Action::None;
    if (verbosity != Verbosity::Silent) error(state, "can not uninstall or disable all packages");
    return false;
  }
  return carryOut(state, staged, verbosity);
}

void enablePackages(InstallerState& state, StagedFiles& staged, const std::vector<InstalledPackage*>& list,
                    Verbosity verbosity) {
  for (InstalledPackage* package : list) {
    std::string label = packageLabel(*package);
    if (verbosity != Verbosity::Silent) setStatusLine(state, "enabling " + label + "...");
    // Reported where it failed; the record is enabled all the same.
    static_cast<void>(markEnabled(state, *package, staged));
    if (verbosity != Verbosity::Silent) info(state, "enabled %s", label.c_str());
  }
}

}  // namespace installer
