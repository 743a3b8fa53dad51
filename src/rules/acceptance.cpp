#include "rules/acceptance.h"

#include "model/messages.h"
#include "model/package_labels.h"
#include "platform/device_paths.h"
#include "platform/system_facts.h"

namespace installer {

namespace {

// The running verdict on one package: the reasons found so far, and whether
// a message has been said (only the first one is).
class Verdict {
 public:
  explicit Verdict(uint32_t tolerated) : flags(tolerated) {}

  // True when a message about `reason` is to be said now: nothing was said
  // yet and the run does not tolerate the reason. Marks the package spoken.
  // A reason of 0 names a refusal that no flag silences.
  bool speak(uint32_t reason) {
    if (spoken || (reason != 0 && (flags & reason) != 0)) return false;
    spoken = true;
    return true;
  }

  uint32_t mask = 0;

 private:
  uint32_t flags;
  bool spoken = false;
};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Branding and firmware packages replace each other by rules of their own.
bool skipsVersionTest(const std::string& name) { return nameEquals(name, "branding") || startsWith(name, "firmware-"); }

void checkInstalledVersion(InstallerState& state, const InstalledPackage& package, Verdict& verdict) {
  const InstalledPackage* installed = findByName(state, package.name);
  if (installed == nullptr || skipsVersionTest(installed->name)) return;
  if (installed->buildTime > package.buildTime && state.flagged) {
    if (verdict.speak(0)) {
      warning(state, "cannot install older %s: %s", packageLabel(package).c_str(), "router in flagged state");
    }
    verdict.mask = Forbidden;
  }
  int order = compareVersions(package, *installed);
  if (order < 0) {
    if (verdict.speak(Downgrade)) {
      warning(state, "omitting package %s: newer package %s is already installed", packageLabel(package).c_str(),
              packageLabel(*installed).c_str());
    }
    verdict.mask |= Downgrade;
  } else if (order == 0) {
    if (verdict.speak(Reinstall)) {
      warning(state, "omitting package %s: it is already installed", packageLabel(package).c_str());
    }
    verdict.mask |= Reinstall;
  } else {
    verdict.mask |= Upgrade;
  }
}

void checkSystemVersion(InstallerState& state, const InstalledPackage& package, Verdict& verdict) {
  if (!nameEquals(package.name, "system") && !startsWith(package.name, "kalmaris")) return;
  uint32_t minimum = minimumSystemVersion();
  if (minimum <= package.version) return;
  if (verdict.speak(Requirement)) {
    error(state, "omitting package %s: min Kalmaris version is %s", packageLabel(package).c_str(),
          libraryVersionText(minimum).c_str());
  }
  verdict.mask |= Requirement;
}

void checkArchitecture(InstallerState& state, const InstalledPackage& package, Verdict& verdict) {
  if (package.architecture.empty() || nameEquals(package.architecture, state.architecture)) return;
  if (verdict.speak(Requirement)) {
    error(state, "can not install %s: it is not made for %s, but for %s", packageLabel(package).c_str(),
          state.architecture.c_str(), package.architecture.c_str());
  }
  verdict.mask |= Requirement;
}

// Only the first missing dependency is named and counted.
void checkDependencies(InstallerState& state, const InstalledPackage& package, Verdict& verdict) {
  for (const DependencyRef& dependency : package.deps) {
    std::vector<InstalledPackage*> providers;
    collectProviders(state, dependency, providers);
    if (!providers.empty()) continue;
    if (verdict.speak(Requirement)) {
      error(state, "can not install %s: %s is not installed, but is required", packageLabel(package).c_str(),
            dependencyLabel(dependency).c_str());
    }
    verdict.mask |= Requirement;
    return;
  }
}

void checkConflicts(InstallerState& state, const InstalledPackage& package, Verdict& verdict) {
  const InstalledPackage* conflicting = findConflicting(state, package);
  if (conflicting == nullptr) return;
  if (verdict.speak(Conflict)) {
    error(state, "can not install %s: it conflicts with %s", packageLabel(package).c_str(),
          packageLabel(*conflicting).c_str());
  }
  verdict.mask |= Conflict;
}

void checkDeviceMode(InstallerState& state, const InstalledPackage& package, Verdict& verdict) {
  if (isAllowedByDeviceMode(package) || state.env.exists(paths::secureMarker)) return;
  if (verdict.speak(0)) {
    error(state, "will not install package %s, not allowed by device-mode", packageLabel(package).c_str());
  }
  verdict.mask |= Forbidden;
}

}  // namespace

uint32_t checkAcceptance(InstallerState& state, const InstalledPackage& package, uint32_t flags) {
  Verdict verdict(flags);
  checkInstalledVersion(state, package, verdict);
  checkSystemVersion(state, package, verdict);
  checkArchitecture(state, package, verdict);
  checkDependencies(state, package, verdict);
  checkConflicts(state, package, verdict);
  checkDeviceMode(state, package, verdict);
  return verdict.mask;
}

bool isAllowedByDeviceMode(const PackageInfo& package) {
  return !nameEquals(package.name, "system") || deviceModeAllowsSystem(package.version, package.buildTime);
}

}  // namespace installer
