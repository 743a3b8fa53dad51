// --commit and --cancel: finishing or dropping the work that an upgrade run
// with --safe left in "/ram/MANIFEST". Neither loads the package database.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/run_modes.h"
#include "pdb/installer_state.h"
#include "platform/device_paths.h"
#include "rules/messages.h"
#include "staging/manifest.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"

namespace {

bool manifestExists() {
  struct stat info;
  return lstat(paths::manifest, &info) == 0 || errno != ENOENT;
}

}  // namespace

int commitManifestRun() {
  StagedFiles staged;
  // No manifest means nothing was deferred; a manifest that cannot be read
  // whole must not be carried out in part.
  if (!readManifest(staged, paths::manifest) && manifestExists()) {
    error(InstallerState::instance(), "cannot read %s, nothing committed", paths::manifest);
    return 1;
  }
  std::fputs("finishing install... ", stdout);
  std::fflush(stdout);
  bool committed = commitStaged(staged, true);
  std::fputs("\b \n", stdout);
  std::fflush(stdout);
  return committed ? 0 : 1;
}

int cancelManifestRun() {
  StagedFiles staged;
  // A set read from a manifest holds no temporary file of its own, so the
  // cancel deletes nothing but the manifest; its result does not matter.
  [[maybe_unused]] bool read = readManifest(staged, paths::manifest);
  cancelStaged(staged);
  unlink(paths::manifest);
  return 0;
}
