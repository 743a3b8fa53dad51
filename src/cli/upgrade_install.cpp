#include "cli/upgrade_install.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "cli/postlog.h"
#include "install/stream_install.h"
#include "model/messages.h"
#include "pdb/database_writer.h"
#include "pdb/package_selection.h"
#include "pdb/pending_actions.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"
#include "rules/acceptance.h"
#include "rules/candidate_scan.h"

namespace installer {

namespace {

using Candidates = std::vector<std::unique_ptr<PackageCandidate>>;

// The floor for downgrades: 0xFFFFFFFF (none) unless the marker exists, then
// the number it holds, or 0 when it holds none.
uint32_t readDowngradeFloor(Env& env, uint32_t& flags) {
  // A number, written by other parts of the system: a link, a FIFO or a
  // device there is no marker, and 4 KiB is more than any number.
  InputFile marker(env, paths::downgradeMarker, ReadLimits{false, true, 4096});
  if (!marker.is_open()) return NoFloor;
  flags |= Downgrade;
  std::string word;
  if (!(marker >> word) || !std::isdigit(static_cast<unsigned char>(word[0]))) return 0;
  unsigned long long value = std::strtoull(word.c_str(), nullptr, 10);
  return value > 0xFFFFFFFFull ? NoFloor : static_cast<uint32_t>(value);
}

// Looks in the download directory first, then in the flash directories.
// Returns whether the candidates came from the download directory.
bool findCandidates(InstallerState& state, Candidates& candidates) {
  Env& env = state.env;
  if (!env.exists(paths::downloadIgnoreMarker)) {
    scanPackageDirectory(state, paths::downloadDir, candidates);
    if (!candidates.empty()) return true;
  }
  static_cast<void>(env.removeFile(paths::secureMarker));  // absent is as good as removed
  scanPackageDirectory(state, paths::flashPackageDir, candidates);
  if (candidates.empty()) scanPackageDirectory(state, paths::systemPackageDir, candidates);
  return false;
}

// Keeps the best candidate of each name, in dependency order.
std::vector<const PackageCandidate*> selectCandidates(InstallerState& state, const Candidates& candidates,
                                                      uint32_t floor) {
  std::vector<PackageInfo*> list;
  std::map<const PackageInfo*, const PackageCandidate*> owners;
  for (const auto& candidate : candidates) {
    list.push_back(&candidate->info);
    owners[&candidate->info] = candidate.get();
  }
  selectPackages(state, list, floor, true);
  std::vector<const PackageCandidate*> selected;
  for (const PackageInfo* record : list) selected.push_back(owners[record]);
  return selected;
}

UserChoices collectUserChoices(const InstallerState& state) {
  UserChoices choices;
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

// The package file becomes the package's database image, or the boot image
// in place of the kernel.
void stageCandidateImage(StagedFiles& staged, const PackageCandidate& candidate, bool boot) {
  stageImage(staged, candidate.path, paths::databaseDir + candidate.info.name + "/image", boot);
  if (boot) stageDelete(staged, paths::bootKernel);
}

bool installCandidates(InstallerState& state, StagedFiles& staged, uint32_t flags,
                       const std::vector<const PackageCandidate*>& selected, std::vector<PackageInfo>& installed) {
  StreamInstallRequest request;
  request.flags = flags;
  request.userChoices = collectUserChoices(state);
  for (const PackageCandidate* candidate : selected) {
    // Still the regular file the scan read, or nothing.
    InputFile file(state.env, candidate->path, ReadLimits{true, true});
    if (!file.is_open()) continue;
    // installStream succeeds also when an equal package is already installed
    // and leaves that record in place; such a package must not be reported
    // as installed. (A package that is installed gets a new record, made
    // while the old one still exists, so the two never share an address.)
    const InstalledPackage* previous = findByName(state, candidate->info.name);
    // The package file stays on flash until the commit is done: a file
    // staged in "/ram" can be made again from it after a power cut.
    staged.readingPackageFile(candidate->path);
    StreamInstallResult result = installStream(state, staged, file, request);
    staged.readingPackageFile(std::string());
    file.close();
    if (result.status != ExitSuccess) return false;
    if (candidate->info.bootImageFlag) stageCandidateImage(staged, *candidate, result.bootImage);
    if (findByName(state, candidate->info.name) == previous) continue;
    installed.push_back(candidate->info);
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
  enablePackages(state, staged, toEnable, Verbosity::Normal);
  return true;
}

void enableIpv6OnRequest(InstallerState& state, StagedFiles& staged) {
  InstalledPackage* ipv6 = findInstalled(state, "ipv6");
  if (ipv6 == nullptr || !ipv6->disabled || !state.env.exists(paths::ipv6Marker)) return;
  ipv6->byUser = true;
  // A state file that cannot be written has been reported; ipv6 is enabled
  // for this run all the same.
  static_cast<void>(markEnabled(state, *ipv6, staged));
}

bool fail(StagedFiles& staged, std::vector<PackageInfo>& installed) {
  cancelStaged(staged);
  installed.clear();
  return false;
}

}  // namespace

bool installFoundPackages(InstallerState& state, StagedFiles& staged, uint32_t flags,
                          std::vector<PackageInfo>& installed) {
  installed.clear();
  uint32_t floor = readDowngradeFloor(state.env, flags);
  Candidates candidates;
  bool fromDownload = findCandidates(state, candidates);
  std::vector<const PackageCandidate*> selected = selectCandidates(state, candidates, floor);
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

}  // namespace installer
