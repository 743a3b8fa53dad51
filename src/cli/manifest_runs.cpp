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
#include "staging/temporary_files.h"

namespace installer {

namespace {

bool manifestExists(Env& env) {
  FileStatus info;
  return env.linkStatus(paths::manifest, info) || errno != ENOENT;
}

}  // namespace

int commitManifestRun(InstallerState& state) {
  Env& env = state.env;
  if (!startRun(state, false)) return ExitFailure;
  StagedFiles staged(env);
  // No manifest means nothing was deferred; a manifest that cannot be read
  // whole must not be carried out in part.
  if (!readManifest(staged, paths::manifest) && manifestExists(env)) {
    staged.release();  // its files stay for another try
    error(state, "cannot read %s, nothing committed", paths::manifest);
    return ExitFailure;
  }
  std::fputs("finishing install... ", stdout);
  std::fflush(stdout);
  CommitOptions options;
  options.showSpinner = true;
  // A manifest committed before, in whole or in part, is finished.
  options.resume = true;
  bool committed = commitStaged(state, staged, options);
  std::fputs("\b \n", stdout);
  std::fflush(stdout);
  return committed ? ExitSuccess : ExitFailure;
}

int cancelManifestRun(InstallerState& state) {
  Env& env = state.env;
  if (!startRun(state, false)) return ExitFailure;
  StagedFiles staged(env);
  staged.release();
  // Whatever could be read of it is dropped with it.
  static_cast<void>(readManifest(staged, paths::manifest));
  for (const auto& entry : staged.entries) {
    // The files it moves in that are temporary files of the run that wrote
    // it; the package files it would have moved stay where they are.
    if (entry.second.kind == StagedKind::Move && isTemporaryName(entry.second.target)) {
      static_cast<void>(env.removeFile(entry.second.target));
    }
  }
  static_cast<void>(env.removeFile(paths::manifest));  // no manifest: nothing to drop
  forgetTemporaries(env);
  return ExitSuccess;
}

}  // namespace installer
