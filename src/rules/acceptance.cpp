#include "rules/acceptance.h"

#include <sys/stat.h>

#include "platform/device_paths.h"
#include "platform/system_library.h"
#include "rules/flagged_state.h"
#include "rules/messages.h"
#include "rules/package_labels.h"

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
  if (installed->buildTime > package.buildTime && flaggedState != 0) {
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
  uint32_t minimum = getMinKalmarisVersion();
  if (minimum <= package.version) return;
  if (verdict.speak(Requirement)) {
    error(state, "omitting package %s: min Kalmaris version is %s", packageLabel(package).c_str(),
          version2string(minimum).c_str());
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
  if (isAllowedByDeviceMode(package)) return;
  struct stat info;
  if (stat(paths::secureMarker, &info) == 0) return;
  if (verdict.speak(0)) {
    error(state, "will not install package %s, not allowed by device-mode", packageLabel(package).c_str());
  }
  verdict.mask |= Forbidden;
}

bool inRange(uint32_t value, uint32_t lowest, uint32_t highest) { return lowest <= value && value <= highest; }

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
  if (!nameEquals(package.name, "system")) return true;
  tq::message settings = tq::KalmarisMode::loadMsg(nullptr);
  tq::KalmarisModeValue mode;
  {
    tq::message field(settings.get<tq::message_id>(1));
    mode.assign(field);
  }
  if (mode.allowsAnySystemPackage()) return true;
  tq::SafePkgs safe(settings);
  if (safe.entries.empty()) return true;
  for (const auto& entry : safe.entries) {
    if (inRange(package.version, entry[0], entry[1]) && inRange(package.buildTime, entry[2], entry[3])) return true;
  }
  return false;
}
