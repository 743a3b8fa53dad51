// Package records and the predicates that relate them.
//
// PackageInfo is what a package file's header parts say about a package.
// InstalledPackage adds what the database knows: the installed files, the
// bundle it belongs to, its enabled state and the action pending for it.
// Records are polymorphic only through the virtual destructor.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/package_version.h"
#include "platform/device_paths.h"

namespace installer {

// A name with version bounds: a dependency, a provided name, a conflict or a
// bundle member. A bound of 0 means "no bound".
struct DependencyRef {
  std::string name;
  PackageVersion min = 0;
  PackageVersion max = 0;
  int32_t priority = 0;  // only meaningful in a provides list
};

enum class PendingAction : uint32_t {
  None = 0,
  Uninstall = 1,
  Enable = 2,
  Disable = 3,
};

// "", "uninstall", "enable" or "disable": the schedule-file keyword.
const char* pendingActionWord(PendingAction action);

// headerFlags bits.
constexpr uint32_t OwnsBootImage = 1;  // uninstalling also removes "/flash/bootimage"
constexpr uint32_t NoMetaFiles = 2;    // the database writer skips the meta files

class PackageInfo {
 public:
  explicit PackageInfo(std::string packageName = std::string());
  virtual ~PackageInfo();
  PackageInfo(const PackageInfo&) = default;
  PackageInfo& operator=(const PackageInfo&) = default;

  std::string name;
  PackageVersion version = 0;
  uint32_t buildTime = 0;
  uint32_t headerFlags = 0;
  std::string text24;
  std::string architecture;
  std::string text2;
  std::string note;
  bool bootImageFlag = false;
  std::vector<DependencyRef> deps;
  std::vector<DependencyRef> provides;
  std::vector<DependencyRef> conflicts;
  bool isBundle = false;
  // Sub-packages of a bundle read from a package file, in file order.
  std::vector<PackageInfo> children;
};

class InstalledPackage : public PackageInfo {
 public:
  explicit InstalledPackage(std::string packageName = std::string());
  InstalledPackage(const InstalledPackage&) = default;
  InstalledPackage& operator=(const InstalledPackage&) = default;

  // Paths below "/flash/", each beginning with "/" ("/bin/x").
  std::set<std::string> files;
  // `files` is still only on flash: see readInstalledFiles.
  bool filesUnread = false;
  DependencyRef bundle;  // name empty: not part of a bundle
  std::string dbPrefix = paths::databaseDir;
  bool disabled = false;
  bool byUser = false;
  PendingAction pending = PendingAction::None;
};

bool nameEquals(const std::string& a, const std::string& b);
// dbPrefix + name + "/".
std::string packageDir(const InstalledPackage& package);
// Version and build time both 0xFFFFFFFF: a stand-in that never conflicts
// and never provides anything.
bool isPlaceholder(const PackageInfo& package);
bool satisfies(const PackageInfo& package, const DependencyRef& ref);
bool providesRef(const PackageInfo& package, const DependencyRef& ref);
// a needs b.
bool dependsOn(const PackageInfo& a, const PackageInfo& b);
// a excludes b; not symmetric.
bool conflictsWith(const PackageInfo& a, const PackageInfo& b);
bool isOrBundles(const PackageInfo& package, const std::string& name);
// 1 when a is newer than b, -1 when older, 0 when equal or unrelated.
int compareVersions(const PackageInfo& a, const PackageInfo& b);

}  // namespace installer
