#include "model/package_info.h"

#include <utility>

namespace installer {

const char* pendingActionWord(PendingAction action) {
  switch (action) {
    case PendingAction::Uninstall:
      return "uninstall";
    case PendingAction::Enable:
      return "enable";
    case PendingAction::Disable:
      return "disable";
    case PendingAction::None:
      break;
  }
  return "";
}

PackageInfo::PackageInfo(std::string packageName) : name(std::move(packageName)) {}

PackageInfo::~PackageInfo() = default;

InstalledPackage::InstalledPackage(std::string packageName) : PackageInfo(std::move(packageName)) {}

bool nameEquals(const std::string& a, const std::string& b) { return a == b; }

std::string packageDir(const InstalledPackage& package) { return package.dbPrefix + package.name + "/"; }

bool isPlaceholder(const PackageInfo& package) {
  return package.version == 0xFFFFFFFFu && package.buildTime == 0xFFFFFFFFu;
}

bool satisfies(const PackageInfo& package, const DependencyRef& ref) {
  return nameEquals(package.name, ref.name) && package.version >= ref.min &&
         (ref.max == 0 || package.version <= ref.max);
}

namespace {

// Version ranges overlap, 0 meaning unbounded on that side.
bool rangesOverlap(const DependencyRef& offered, const DependencyRef& wanted) {
  if (offered.min != 0 && wanted.max != 0 && offered.min > wanted.max) return false;
  return offered.max == 0 || offered.max >= wanted.min;
}

}  // namespace

bool providesRef(const PackageInfo& package, const DependencyRef& ref) {
  for (const DependencyRef& entry : package.provides) {
    if (nameEquals(entry.name, ref.name) && rangesOverlap(entry, ref)) return true;
  }
  return false;
}

bool dependsOn(const PackageInfo& a, const PackageInfo& b) {
  for (const DependencyRef& dep : a.deps) {
    if (satisfies(b, dep) || providesRef(b, dep)) return true;
  }
  for (const PackageInfo& child : b.children) {
    if (dependsOn(a, child)) return true;
  }
  for (const PackageInfo& child : a.children) {
    if (dependsOn(child, b)) return true;
  }
  return false;
}

namespace {

// Provided names decide a conflict at their first name match, whatever the
// outcome. Returns 1 (conflict), 0 (no conflict) or -1 (no provided name matched).
int providedNameVerdict(const PackageInfo& a, const PackageInfo& b) {
  for (const DependencyRef& entry : b.provides) {
    if (nameEquals(entry.name, a.name)) return entry.priority < 0 ? 1 : 0;
  }
  for (const DependencyRef& entry : a.provides) {
    if (nameEquals(entry.name, b.name)) return entry.priority >= 0 ? 1 : 0;
    for (const DependencyRef& other : b.provides) {
      if (nameEquals(entry.name, other.name)) return entry.priority > other.priority ? 1 : 0;
    }
  }
  return -1;
}

}  // namespace

bool conflictsWith(const PackageInfo& a, const PackageInfo& b) {
  if (isPlaceholder(a) || isPlaceholder(b)) return false;
  for (const DependencyRef& conflict : a.conflicts) {
    if (satisfies(b, conflict)) return true;
  }
  int verdict = providedNameVerdict(a, b);
  if (verdict >= 0) return verdict == 1;
  for (const DependencyRef& conflict : a.conflicts) {
    if (providesRef(b, conflict)) return true;
  }
  for (const PackageInfo& child : b.children) {
    if (nameEquals(child.name, a.name)) return true;
  }
  for (const PackageInfo& child : a.children) {
    if (conflictsWith(child, b)) return true;
  }
  return false;
}

namespace {

const PackageInfo* childNamed(const PackageInfo& package, const std::string& name) {
  for (const PackageInfo& child : package.children) {
    if (nameEquals(child.name, name)) return &child;
  }
  return nullptr;
}

int compareOrder(const PackageInfo& left, const PackageInfo& right) {
  if (left.version != right.version) return left.version > right.version ? 1 : -1;
  if (left.buildTime != right.buildTime) return left.buildTime > right.buildTime ? 1 : -1;
  return 0;
}

}  // namespace

bool isOrBundles(const PackageInfo& package, const std::string& name) {
  return nameEquals(package.name, name) || childNamed(package, name) != nullptr;
}

int compareVersions(const PackageInfo& a, const PackageInfo& b) {
  if (nameEquals(a.name, b.name)) return compareOrder(a, b);
  // A bundle is weighed by its member of the other package's name.
  if (const PackageInfo* member = childNamed(a, b.name)) return compareOrder(*member, b);
  if (const PackageInfo* member = childNamed(b, a.name)) return -compareOrder(*member, a);
  return 0;
}

}  // namespace installer
