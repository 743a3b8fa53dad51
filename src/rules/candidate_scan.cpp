#include "rules/candidate_scan.h"

#include "model/messages.h"
#include "model/package_labels.h"
#include "package/package_format.h"
#include "package/package_header.h"
#include "package/package_stream.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"
#include "platform/system_facts.h"
#include "rules/acceptance.h"

namespace installer {

namespace {

// The header parts of a package or bundle and its members, and the image
// part, so that a boot image sets bootImageFlag. Files and signatures are
// skipped: the scan only decides which files to install.
const std::vector<uint32_t> headerPartTypes = {PartType::BundleHeader, PartType::PackageHeader, PartType::Text24,
                                               PartType::Architecture, PartType::Text2,         PartType::Note,
                                               PartType::Dependencies, PartType::Provides,      PartType::Conflicts,
                                               PartType::SquashfsImage};

constexpr char firmwarePrefix[] = "firmware-";
constexpr size_t firmwarePrefixLength = sizeof firmwarePrefix - 1;

bool isPart(int32_t type, PartType part) { return type == static_cast<int32_t>(part); }

bool endsWith(const std::string& text, const char* ending) {
  std::string tail = ending;
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The members of a bundle follow its header, each from its part 1; an image
// part between them is passed over. A bundle without members is broken.
bool readBundleMembers(PackageInfo& bundle, PackageStream& stream) {
  if (isPart(stream.currentType, PartType::SquashfsImage)) stream.nextPart();
  while (isPart(stream.currentType, PartType::PackageHeader)) {
    PackageInfo member;
    if (!readPackageHeader(member, stream)) return false;
    bundle.children.push_back(std::move(member));
    if (isPart(stream.currentType, PartType::SquashfsImage)) stream.nextPart();
  }
  return !bundle.children.empty();
}

// Fills the candidate from its file's header parts; false when the file is
// broken: unreadable, not as long as its header says, or without a header.
bool readCandidate(Env& env, PackageCandidate& candidate) {
  // Only regular files are read: anything else has no length to compare
  // with the header's.
  FileStatus info;
  bool known = env.status(candidate.path, info).isOk();
  if (known && info.type != FileType::Regular) return false;
  InputFile file(env, candidate.path, ReadLimits{true, true});
  if (!file.is_open()) return false;
  PackageStream stream(file, true, nullptr);
  if (known && static_cast<uint32_t>(info.size) != stream.totalSize) return false;
  stream.wantedTypes = headerPartTypes;
  stream.nextPart();
  candidate.info.isBundle = isPart(stream.currentType, PartType::BundleHeader);
  if (!readPackageHeader(candidate.info, stream)) return false;
  return !candidate.info.isBundle || readBundleMembers(candidate.info, stream);
}

bool isForThisArchitecture(InstallerState& state, const PackageInfo& package) {
  if (package.architecture.empty() || package.architecture == state.architecture) return true;
  warning(state, "can not install %s: it is not made for %s, but for %s", packageLabel(package).c_str(),
          state.architecture.c_str(), package.architecture.c_str());
  return false;
}

// The file offset of the first squashfs image in the package file.
bool findImageOffset(Env& env, const std::string& path, uint32_t& offset) {
  InputFile file(env, path, ReadLimits{true, true});
  if (!file.is_open()) return false;
  PackageStream stream(file, true, nullptr);
  stream.wantedTypes = {PartType::SquashfsImage};
  if (!isPart(stream.nextPart(), PartType::SquashfsImage)) return false;
  offset = stream.payloadOffset();
  return true;
}

// A protected branding (one that forces the default configuration on reset)
// may only be replaced by another protected one, so that a reset cannot be
// used to get rid of it. Whether the new one is protected is seen inside its
// image; when that cannot be looked at, it counts as unprotected.
bool keepsBrandingProtected(InstallerState& state, const PackageCandidate& candidate) {
  Env& env = state.env;
  if (candidate.info.name != "branding" || !env.exists(paths::brandingProtectedMarker)) return true;
  uint32_t offset = 0;
  Status failure;
  if (findImageOffset(env, candidate.path, offset) &&
      env.findFileInImage(candidate.path, offset, paths::brandingMountPoint, paths::newBrandingProtectedMarker,
                          failure) == ImageFileResult::Present) {
    return true;
  }
  if (!failure.isOk()) reportSystemFailure(state, failure);  // the step of the look that failed, as the system says
  error(state, "can not replace protected branding with non-protected");
  return false;
}

// A firmware package fits only the board whose device tree names it.
bool fitsThisBoard(InstallerState& state, const PackageInfo& package) {
  if (package.name.compare(0, firmwarePrefixLength, firmwarePrefix) != 0) return true;
  if (!state.env.exists(paths::firmwarePackageProperty)) {
    error(state, "can not install %s: not for this platform", packageLabel(package).c_str());
    return false;
  }
  // The property is a device-tree string: its text ends at the first zero byte.
  std::string property = readDeviceFile(paths::firmwarePackageProperty);
  std::string wanted = property.substr(0, property.find('\0'));
  if (wanted == package.name) return true;
  error(state, "can not install %s: use %s package instead", packageLabel(package).c_str(), wanted.c_str());
  return false;
}

bool isAllowedHere(InstallerState& state, const PackageInfo& package) {
  if (isAllowedByDeviceMode(package) || state.env.exists(paths::secureMarker)) return true;
  error(state, "will not install package %s, not allowed by device-mode", packageLabel(package).c_str());
  return false;
}

// Reads and checks one directory entry; null when it is not a package file
// or is refused (reported).
std::unique_ptr<PackageCandidate> examineEntry(InstallerState& state, const std::string& directory,
                                               const std::string& name) {
  if (name.empty() || name[0] == '.') return nullptr;
  auto candidate = std::make_unique<PackageCandidate>();
  candidate->path = directory + name;
  if (!endsWith(candidate->path, ".kmp") && !endsWith(candidate->path, ".dpk")) return nullptr;
  if (!readCandidate(state.env, *candidate)) {
    error(state, "broken package %s", name.c_str());
    return nullptr;
  }
  const PackageInfo& package = candidate->info;
  if (!isForThisArchitecture(state, package) || !keepsBrandingProtected(state, *candidate) ||
      !fitsThisBoard(state, package) || !isAllowedHere(state, package)) {
    return nullptr;
  }
  return candidate;
}

}  // namespace

void scanPackageDirectory(InstallerState& state, const std::string& directory,
                          std::vector<std::unique_ptr<PackageCandidate>>& candidates) {
  std::vector<std::string> names;
  if (!state.env.listDirectory(directory, names).isOk()) return;
  for (const std::string& name : names) {
    std::unique_ptr<PackageCandidate> candidate = examineEntry(state, directory, name);
    if (candidate) candidates.push_back(std::move(candidate));
  }
}

}  // namespace installer
