// The upgrade run as main drives it: the run itself, the check of the
// staged work, the result lines, and the commit or the manifest.
#include "cli/upgrade_mode_run.h"

#include <cinttypes>
#include <cstring>
#include <vector>

#include "cli/postlog.h"
#include "cli/upgrade_install.h"
#include "install/package_rebuild.h"
#include "model/messages.h"
#include "model/package_labels.h"
#include "platform/device_paths.h"
#include "rules/acceptance.h"
#include "staging/disk_space.h"
#include "staging/manifest.h"
#include "staging/manifest_notes.h"
#include "staging/staged_commit.h"
#include "staging/temporary_files.h"

namespace installer {

ExitStatus checkStagedWork(InstallerState& state, const StagedFiles& staged) {
  int64_t kernelFree = 0;
  int64_t mainFree = 0;
  if (!checkDiskSpace(staged, kernelFree, mainFree)) {
    reportShortfall(state, kernelFree, mainFree);
    return ExitNoSpace;
  }
  if (staged.empty()) return ExitSuccess;
  return commitStatus(checkCommit(state, staged));
}

ExitStatus commitStatus(CommitResult result) {
  switch (result) {
    case CommitResult::Done:
      return ExitSuccess;
    case CommitResult::NoRoom:
      return ExitNoSpace;
    case CommitResult::Refused:
    case CommitResult::Failed:
      break;
  }
  return ExitFailure;
}

namespace {

// Marks the change for the boot scripts, then commits or defers the work.
ExitStatus finishStagedWork(InstallerState& state, StagedFiles& staged, bool applyNow) {
  Status marked = stageEmptyFile(staged, paths::packagesChangedMarker);
  if (!marked.isOk()) {
    error(state, "could not create %s: %s", paths::packagesChangedMarker, marked.reason().c_str());
    cancelStaged(staged);
    return ExitFailure;
  }
  if (applyNow) {
    PackageFileContents contents;
    CommitOptions options;
    options.contents = &contents;
    return commitStatus(commitStaged(state, staged, options));
  }
  // Without its notes a manifest is still carried out, as one written by
  // hand is; they go first so that they never lag behind it.
  static_cast<void>(writeManifestNotes(state.env, notesFor(staged, manifestDigest(staged))));
  Status written = writeManifest(staged, paths::manifest);
  if (written.isOk()) return ExitSuccess;
  error(state, "could not write %s: %s", paths::manifest, written.reason().c_str());
  cancelStaged(staged);
  return ExitFailure;
}

}  // namespace

int upgradeModeRun(InstallerState& state, StagedFiles& staged, RunOptions& options) {
  options.flags |= Upgrade;
  std::vector<PackageInfo> installed;
  ExitStatus status = installFoundPackages(state, staged, options.flags, installed) ? ExitSuccess : ExitFailure;
  // Reinstalled packages stage nothing, but a run with --reinstall may
  // install other packages too: the check is made with it as well.
  ExitStatus checked = checkStagedWork(state, staged);
  if (checked != ExitSuccess) {
    cancelStaged(staged);
    installed.clear();
    status = checked;
  }
  for (const PackageInfo& record : installed) info(state, "installed %s", packageLabel(record).c_str());
  if (!staged.empty()) {
    ExitStatus finished = finishStagedWork(state, staged, options.applyNow);
    if (status == ExitSuccess) status = finished;
  }
  removeRunLeftovers(state.env);
  // The log is the last thing the run does; there is nowhere left to say
  // that it could not be written.
  static_cast<void>(writePostlog(state));
  return status;
}

}  // namespace installer
