// The upgrade run as main drives it: the run itself, the disk space check,
// the result lines, and the commit or the manifest.
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "cli/postlog.h"
#include "cli/run_modes.h"
#include "cli/upgrade_run.h"
#include "platform/device_paths.h"
#include "rules/acceptance.h"
#include "model/messages.h"
#include "model/package_labels.h"
#include "staging/disk_space.h"
#include "staging/manifest.h"
#include "staging/staged_commit.h"

namespace installer {

namespace {

}  // namespace

bool staysWithinDiskSpace(InstallerState& state, const StagedFiles& staged) {
  int64_t kernelFree = 0;
  int64_t mainFree = 0;
  if (checkDiskSpace(staged, kernelFree, mainFree)) return true;
  if (kernelFree < 0) {
    error(state, "upgrade failed, free %" PRId64 " kB of kernel disk space", shortfallKilobytes(kernelFree));
  }
  if (mainFree < 0) error(state, "upgrade failed, free %" PRId64 " kB of disk space", shortfallKilobytes(mainFree));
  return false;
}

namespace {

// Marks the change for the boot scripts, then commits or defers the work.
ExitStatus finishStagedWork(InstallerState& state, StagedFiles& staged, bool applyNow) {
  if (!stageEmptyFile(staged, paths::packagesChangedMarker)) {
    error(state, "could not create %s: %s", paths::packagesChangedMarker, std::strerror(errno));
    cancelStaged(staged);
    return ExitFailure;
  }
  if (applyNow) return commitStaged(state, staged, CommitOptions()) ? ExitSuccess : ExitFailure;
  if (writeManifest(staged, paths::manifest)) return ExitSuccess;
  error(state, "could not write %s: %s", paths::manifest, std::strerror(errno));
  cancelStaged(staged);
  return ExitFailure;
}

}  // namespace

int upgradeModeRun(InstallerState& state, StagedFiles& staged, RunOptions& options) {
  options.flags |= Upgrade;
  std::vector<PackageInfo> installed;
  ExitStatus status = runUpgrade(state, staged, options.flags, installed) ? ExitSuccess : ExitFailure;
  // Reinstalled files take room too: the check is made with --reinstall as well.
  if (!staysWithinDiskSpace(state, staged)) {
    cancelStaged(staged);
    installed.clear();
    status = ExitNoSpace;
  }
  for (const PackageInfo& record : installed) info(state, "installed %s", packageLabel(record).c_str());
  if (!staged.empty()) {
    ExitStatus finished = finishStagedWork(state, staged, options.applyNow);
    if (status == ExitSuccess) status = finished;
  }
  // The log is the last thing the run does; there is nowhere left to say
  // that it could not be written.
  static_cast<void>(writePostlog(state));
  return status;
}

}  // namespace installer
