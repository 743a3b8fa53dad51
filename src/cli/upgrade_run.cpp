#include "cli/upgrade_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "package/stream_install.h"
#include "cli/postlog.h"
#include "pdb/database_writer.h"
#include "pdb/package_selection.h"
#include "pdb/pending_actions.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"
#include "rules/acceptance.h"
#include "rules/candidate_scan.h"
#include "rules/messages.h"

namespace {

using Candidates = std::vector<std::unique_ptr<PackageCandidate>>;

bool pathExists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

// The floor for downgrades: 0xFFFFFFFF (none) unless the marker exists, then
// the number it holds, or 0 when it holds none.
uint32_t readDowngradeFloor(uint32_t& flags) {
  InputFile marker(paths::downgradeMarker);
  if (!marker.is_open()) return 0xFFFFFFFFu;
  flags |= Downgrade;
  std::string word;
  if (!(marker >> word) || !std::isdigit(static_cast<unsigned char>(word[0]))) return 0;
  unsigned long long value = std::strtoull(word.c_str(), nullptr, 10);
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

// Looks in the download directory first, then in the flash directories.
// Returns whether the candidates came from the download directory.
bool findCandidates(InstallerState& state, Candidates& candidates) {
  if (!pathExists(paths::downloadIgnoreMarker)) {
    scanPackageDirectory(paths::downloadDir, candidates, state);
    if (!candidates.empty()) return true;
  }
  unlink(paths::secureMarker);
  scanPackageDirectory(paths::flashPackageDir, candidates, state);
  if (candidates.empty()) scanPackageDirectory(paths::systemPackageDir, candidates, state);
  return false;
}

// Keeps the best candidate of each name, in dependency order.
std::vector<PackageCandidate*> selectCandidates(InstallerState& state, const Candidates& candidates,
                                                uint32_t floor) {
  std::vector<PackageInfo*> list;
  for (const auto& candidate : candidates) list.push_back(candidate.get());
  selectPackages(state, list, floor, true);
  std::vector<PackageCandidate*> selected;
  for (PackageInfo* record : list) selected.push_back(static_cast<PackageCandidate*>(record));
  return selected;
}

std::map<std::string, uint8_t> collectUserChoices(const InstallerState& state) {
  std::map<std::string, uint8_t> choices;
  for (const auto& package : state.packages) {
    if (package->byUser) choices.emplace(package->name, package->disabled ? 1 : 0);
  }
  return choices;
}

std::set<std::string> collectRequiredNames(const InstallerState& state) {
  std::set<std::string> names;
  for (const auto& package : state.packages) {
    if (package->disabled) continue;
    names.insert(package->name);
    for (const DependencyRef& provided : package->provides) names.insert(provided.name);
  }
  return names;
}

// The package file becomes the package's database image, or the boot image.
void stageImage(StagedFiles& staged, const PackageCandidate& candidate, bool boot) {
  std::string image = std::string(paths::databaseDir) + candidate.name + "/image";
  if (!boot) {
    stageMove(staged, candidate.path, image);
    return;
  }
  stageMove(staged, candidate.path, paths::bootImage);
  stageSymlink(staged, paths::bootImage, image);
  stageDelete(staged, paths::bootKernel);
}

bool installCandidates(InstallerState& state, StagedFiles& staged, uint32_t flags,
                       const std::vector<PackageCandidate*>& selected, std::vector<PackageInfo>& installed) {
  std::map<std::string, uint8_t> userChoices = collectUserChoices(state);
  for (PackageCandidate* candidate : selected) {
    // A read error must end the package, not the process: the standard
    // file stream throws from its buffer, which PackageStream reads directly.
    InputFile file(candidate->path);
    if (!file.is_open()) continue;
    // installStream succeeds also when an equal package is already installed
    // and leaves that record in place; such a package must not be reported
    // as installed. (A package that is installed gets a new record, made
    // while the old one still exists, so the two never share an address.)
    const InstalledPackage* previous = findByName(state, candidate->name);
    bool boot = false;
    int result = installStream(state, staged, file, flags, userChoices, nullptr, nullptr, &boot);
    file.close();
    if (result != 0) return false;
    if (candidate->bootImageFlag) stageImage(staged, *candidate, boot);
    if (findByName(state, candidate->name) == previous) continue;
    installed.push_back(*candidate);
    installed.back().children.clear();
  }
  return true;
}

// Every package enabled before the run must still be there; disabled ones
// that nothing enabled conflicts with are enabled again.
bool checkRequiredNames(InstallerState& state, StagedFiles& staged, const std::set<std::string>& required,
                        bool fromDownload) {
  std::vector<InstalledPackage*> toEnable;
  for (const std::string& name : required) {
    InstalledPackage* package = findInstalled(state, name);
    if (package == nullptr) {
      if (fromDownload) continue;
      error(state, "missing package %s", name.c_str());
      return false;
    }
    if (package->disabled && findConflicting(state, *package) == nullptr) toEnable.push_back(package);
  }
  enablePackages(state, staged, toEnable, 1);
  return true;
}

void enableIpv6OnRequest(InstallerState& state, StagedFiles& staged) {
  InstalledPackage* ipv6 = findInstalled(state, "ipv6");
  if (ipv6 == nullptr || !ipv6->disabled || !pathExists(paths::ipv6Marker)) return;
  ipv6->byUser = true;
  markEnabled(*ipv6, staged);
}

bool fail(StagedFiles& staged, std::vector<PackageInfo>& installed) {
  cancelStaged(staged);
  installed.clear();
  return false;
}

}  // namespace

bool runUpgrade(InstallerState& state, StagedFiles& staged, uint32_t flags, std::vector<PackageInfo>& installed) {
  installed.clear();
  uint32_t floor = readDowngradeFloor(flags);
  Candidates candidates;
  bool fromDownload = findCandidates(state, candidates);
  std::vector<PackageCandidate*> selected = selectCandidates(state, candidates, floor);
  std::set<std::string> required = collectRequiredNames(state);
  if (!selected.empty()) preparePostlog(state);
  if (!installCandidates(state, staged, flags, selected, installed)) return fail(staged, installed);
  if (!checkRequiredNames(state, staged, required, fromDownload)) return fail(staged, installed);
  enableIpv6OnRequest(state, staged);
  if (state.packages.empty()) {
    error(state, "router installation failed!!!");
    return fail(staged, installed);
  }
  return true;
}
