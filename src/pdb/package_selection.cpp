#include "pdb/package_selection.h"

#include "model/messages.h"
#include "model/package_labels.h"

namespace installer {

namespace {

bool related(const PackageInfo& a, const PackageInfo& b) { return isOrBundles(a, b.name) || isOrBundles(b, a.name); }

// Whether some other candidate of `candidates` beats the one at `index`.
// In downgrade mode, candidates below the floor are out of the running and
// beat nobody. Of two equal candidates of the same kind the earlier one
// wins, so that exactly one of them is kept; a bundle beats an equal plain
// package.
bool isBeaten(InstallerState& state, const std::vector<PackageInfo*>& candidates, size_t index, uint32_t floor,
              bool verbose) {
  const bool downgrade = floor != NoFloor;
  const PackageInfo& candidate = *candidates[index];
  for (size_t other = 0; other < candidates.size(); ++other) {
    const PackageInfo& rival = *candidates[other];
    if (other == index || !related(candidate, rival)) continue;
    if (downgrade && rival.version < floor) continue;
    int order = compareVersions(rival, candidate);
    if (downgrade) order = -order;
    if (order > 0) {
      if (verbose) {
        warning(state,
                downgrade ? "omitting package %s: older package is already provided"
                          : "omitting package %s: newer package is already provided",
                packageLabel(candidate).c_str());
      }
      return true;
    }
    if (order < 0) continue;
    if (candidate.isBundle != rival.isBundle) {
      if (rival.isBundle) return true;
      continue;
    }
    if (other < index) return true;
  }
  return false;
}

std::vector<PackageInfo*> selectBest(InstallerState& state, const std::vector<PackageInfo*>& candidates, uint32_t floor,
                                     bool verbose) {
  std::vector<PackageInfo*> kept;
  for (size_t i = 0; i < candidates.size(); ++i) {
    PackageInfo* candidate = candidates[i];
    if (floor != NoFloor && candidate->version < floor) {
      warning(state, "ommitting package %s: not allowed", packageLabel(*candidate).c_str());
      continue;
    }
    if (!isBeaten(state, candidates, i, floor, verbose)) kept.push_back(candidate);
  }
  return kept;
}

// Each record goes directly after the last placed record that it depends on
// or that excludes it, or to the front when there is none.
std::vector<PackageInfo*> orderByDependencies(const std::vector<PackageInfo*>& kept) {
  std::vector<PackageInfo*> result;
  for (PackageInfo* record : kept) {
    size_t position = result.size();
    while (position > 0) {
      const PackageInfo& placed = *result[position - 1];
      if (dependsOn(*record, placed) || conflictsWith(placed, *record)) break;
      --position;
    }
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(position), record);
  }
  return result;
}

}  // namespace

bool staysActive(const InstalledPackage& package) {
  if (package.pending == PendingAction::Enable) return true;
  return !package.disabled && package.pending == PendingAction::None;
}

int summarizeFate(const std::vector<InstalledPackage*>& providers) {
  bool someDisabled = false;
  for (const InstalledPackage* provider : providers) {
    if (staysActive(*provider)) return FateStays;
    if (provider->disabled || provider->pending == PendingAction::Disable) someDisabled = true;
  }
  return someDisabled ? FateDisabled : FateRemoved;
}

void selectPackages(InstallerState& state, std::vector<PackageInfo*>& list, uint32_t floor, bool verbose) {
  list = orderByDependencies(selectBest(state, list, floor, verbose));
}

void keepDependencies(InstallerState& state, InstalledPackage& package, bool verbose) {
  if (!package.bundle.name.empty()) {
    InstalledPackage* bundle = findByName(state, package.bundle.name);
    if (bundle != nullptr) keepProvider(state, *bundle, package, verbose);
  }
  for (const DependencyRef& dependency : package.deps) {
    std::vector<InstalledPackage*> providers;
    collectProviders(state, dependency, providers);
    if (summarizeFate(providers) == FateStays) continue;
    if (providers.empty()) return;
    std::vector<PackageInfo*> choice(providers.begin(), providers.end());
    selectPackages(state, choice, NoFloor, false);
    if (choice.empty()) continue;
    keepProvider(state, *static_cast<InstalledPackage*>(choice.back()), package, verbose);
  }
}

void keepProvider(InstallerState& state, InstalledPackage& provider, const InstalledPackage& dependent, bool verbose) {
  if (provider.pending == PendingAction::Uninstall || provider.pending == PendingAction::Disable) {
    if (verbose) {
      warning(state, "can not %s %s: %s depends on it", pendingActionWord(provider.pending),
              packageLabel(provider).c_str(), dependent.name.c_str());
    }
    provider.pending = PendingAction::None;
  } else if (provider.disabled && provider.pending != PendingAction::Enable) {
    provider.pending = PendingAction::Enable;
  } else {
    return;
  }
  keepDependencies(state, provider, verbose);
}

}  // namespace installer
