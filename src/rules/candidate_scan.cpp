#include "rules/candidate_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>

#include "package/package_format.h"
#include "package/package_header.h"
#include "package/package_stream.h"
#include "platform/device_paths.h"
#include "platform/loop_mount.h"
#include "platform/system_library.h"
#include "rules/acceptance.h"
#include "rules/messages.h"
#include "rules/package_labels.h"
#include "platform/input_file.h"

namespace {

// The header parts of a package or bundle and its members, and the image
// part, so that a boot image sets bootImageFlag. Files and signatures are
// skipped: the scan only decides which files to install.
const std::vector<uint32_t> headerPartTypes = {
    PartType::BundleHeader, PartType::PackageHeader, PartType::Text24,    PartType::Architecture,
    PartType::Text2,        PartType::Note,          PartType::Dependencies, PartType::Provides,
    PartType::Conflicts,    PartType::SquashfsImage};

constexpr char firmwarePrefix[] = "firmware-";
constexpr size_t firmwarePrefixLength = sizeof firmwarePrefix - 1;

bool isPart(int32_t type, PartType part) { return type == static_cast<int32_t>(part); }

bool exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

bool endsWith(const std::string& text, const char* ending) {
  std::string tail = ending;
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The members of a bundle follow its header, each from its part 1; an image
// part between them is passed over. A bundle without members is broken.
bool readBundleMembers(PackageCandidate& candidate, PackageStream& stream) {
  if (isPart(stream.currentType, PartType::SquashfsImage)) stream.nextPart();
  while (isPart(stream.currentType, PartType::PackageHeader)) {
    auto member = std::make_unique<PackageInfo>();
    if (!readPackageHeader(*member, stream)) return false;
    candidate.children.push_back(member.release());
    if (isPart(stream.currentType, PartType::SquashfsImage)) stream.nextPart();
  }
  return !candidate.children.empty();
}

// Fills the candidate from its file's header parts; false when the file is
// broken: unreadable, not as long as its header says, or without a header.
bool readCandidate(PackageCandidate& candidate) {
  // Only regular files are read: the standard file stream does not report a
  // read error (a directory, a device that fails) as end of file.
  struct stat info;
  bool known = stat(candidate.path.c_str(), &info) == 0;
  if (known && !S_ISREG(info.st_mode)) return false;
  InputFile file(candidate.path);
  if (!file.is_open()) return false;
  PackageStream stream(file, true, nullptr);
  if (known && static_cast<uint32_t>(info.st_size) != stream.totalSize) return false;
  stream.wantedTypes = headerPartTypes;
  stream.nextPart();
  candidate.isBundle = isPart(stream.currentType, PartType::BundleHeader);
  if (!readPackageHeader(candidate, stream)) return false;
  return !candidate.isBundle || readBundleMembers(candidate, stream);
}

bool isForThisArchitecture(const PackageCandidate& candidate, InstallerState& state) {
  if (candidate.architecture.empty() || candidate.architecture == state.architecture) return true;
  warning(state, "can not install %s: it is not made for %s, but for %s", packageLabel(candidate).c_str(),
          state.architecture.c_str(), candidate.architecture.c_str());
  return false;
}

// The file offset of the first squashfs image in the package file.
bool findImageOffset(const std::string& path, uint32_t& offset) {
  InputFile file(path);
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
bool keepsBrandingProtected(const PackageCandidate& candidate, InstallerState& state) {
  if (candidate.name != "branding" || !exists(paths::brandingProtectedMarker)) return true;
  uint32_t offset = 0;
  if (findImageOffset(candidate.path, offset) &&
      findFileInImage(candidate.path, offset, paths::brandingMountPoint, paths::newBrandingProtectedMarker) ==
          ImageFileResult::Present) {
    return true;
  }
  error(state, "can not replace protected branding with non-protected");
  return false;
}

// A firmware package fits only the board whose device tree names it.
bool fitsThisBoard(const PackageCandidate& candidate, InstallerState& state) {
  if (candidate.name.compare(0, firmwarePrefixLength, firmwarePrefix) != 0) return true;
  if (!exists(paths::firmwarePackageProperty)) {
    error(state, "can not install %s: not for this platform", packageLabel(candidate).c_str());
    return false;
  }
  // The property is a device-tree string: its text ends at the first zero byte.
  std::string property = tq::readFile(paths::firmwarePackageProperty, 0xFFFFFFFF, 0);
  std::string wanted = property.substr(0, property.find('\0'));
  if (wanted == candidate.name) return true;
  error(state, "can not install %s: use %s package instead", packageLabel(candidate).c_str(), wanted.c_str());
  return false;
}

bool isAllowedHere(const PackageCandidate& candidate, InstallerState& state) {
  if (isAllowedByDeviceMode(candidate) || exists(paths::secureMarker)) return true;
  error(state, "will not install package %s, not allowed by device-mode", packageLabel(candidate).c_str());
  return false;
}

// Reads and checks one directory entry; null when it is not a package file
// or is refused (reported).
std::unique_ptr<PackageCandidate> examineEntry(const std::string& directory, const std::string& name,
                                               InstallerState& state) {
  if (name.empty() || name[0] == '.') return nullptr;
  std::string path = directory + name;
  if (!endsWith(path, ".kmp") && !endsWith(path, ".dpk")) return nullptr;
  auto candidate = std::make_unique<PackageCandidate>(path);
  if (!readCandidate(*candidate)) {
    error(state, "broken package %s", name.c_str());
    return nullptr;
  }
  if (!isForThisArchitecture(*candidate, state) || !keepsBrandingProtected(*candidate, state) ||
      !fitsThisBoard(*candidate, state) || !isAllowedHere(*candidate, state)) {
    return nullptr;
  }
  return candidate;
}

}  // namespace

PackageCandidate::PackageCandidate(std::string packagePath) : path(std::move(packagePath)) {}

PackageCandidate::~PackageCandidate() {
  for (PackageInfo* member : children) delete member;
}

void scanPackageDirectory(const std::string& directory, std::vector<std::unique_ptr<PackageCandidate>>& candidates,
                          InstallerState& state) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::unique_ptr<PackageCandidate> candidate = examineEntry(directory, entry->d_name, state);
    if (candidate) candidates.push_back(std::move(candidate));
  }
  closedir(dir);
}
