// --commit and --cancel: finishing or dropping the work that an upgrade run
// with --safe left in "/ram/MANIFEST". Neither loads the package database.
#include <cerrno>
#include <cstdio>

#include "cli/run_modes.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "staging/manifest.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"

namespace installer {

namespace {

bool manifestExists(Env& env) {
  FileStatus info;
  return env.linkStatus(paths::manifest, info) || errno != ENOENT;
}

}  // namespace

int commitManifestRun(Env& env) {
  StagedFiles staged(env);
  // No manifest means nothing was deferred; a manifest that cannot be read
  // whole must not be carried out in part.
  if (!readManifest(staged, paths::manifest) && manifestExists(env)) {
    InstallerState state(env);
    error(state, "cannot read %s, nothing committed", paths::manifest);
    return ExitFailure;
  }
  std::fputs("finishing install... ", stdout);
  std::fflush(stdout);
  bool committed = commitStaged(staged, true);
  std::fputs("\b \n", stdout);
  std::fflush(stdout);
  return committed ? ExitSuccess : ExitFailure;
}

int cancelManifestRun(Env& env) {
  StagedFiles staged(env);
  // A set read from a manifest holds no temporary file of its own, so the
  // cancel deletes nothing but the manifest; whether it could be read does
  // not matter.
  static_cast<void>(readManifest(staged, paths::manifest));
  cancelStaged(staged);
  static_cast<void>(env.removeFile(paths::manifest));  // no manifest: nothing to drop
  return ExitSuccess;
}

}  // namespace installer
