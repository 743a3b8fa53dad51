// --commit and --cancel: finishing or dropping the work that an upgrade run
// with --safe left in "/ram/MANIFEST". Neither loads the package database.
#include "cli/manifest_runs.h"

#include <cstdio>

#include "cli/run_start.h"
#include "cli/upgrade_mode_run.h"
#include "install/package_rebuild.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "staging/manifest.h"
#include "staging/manifest_notes.h"
#include "staging/staged_commit.h"
#include "staging/staged_files.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

bool manifestExists(Env& env) {
  FileStatus info;
  return !env.linkStatus(paths::manifest, info).is(Status::Kind::NotFound);
}

// Carries the manifest out, unless its notes say that it has been, or that
// what it changes has changed since it was written.
ExitStatus commitManifest(InstallerState& state, StagedFiles& staged, const std::string& digest) {
  ManifestNotes notes;
  bool noted = readManifestNotes(state.env, digest, notes);
  if (noted && notes.committed) {
    staged.release();
    return ExitSuccess;
  }
  std::string changed = noted ? changedSince(state.env, notes) : std::string();
  if (!changed.empty()) {
    staged.release();  // its files stay for a --cancel
    error(state, "cannot commit %s: %s has changed since it was written", paths::manifest, changed.c_str());
    return ExitFailure;
  }
  if (noted) applyOrigins(notes, staged);
  PackageFileContents contents;
  CommitOptions options;
  options.showSpinner = true;
  options.contents = &contents;
  options.manifestDigest = digest;
  return commitStatus(commitStaged(state, staged, options));
}

}  // namespace

int commitManifestRun(InstallerState& state) {
  Env& env = state.env;
  if (!startRun(state, false)) return ExitFailure;
  StagedFiles staged(env);
  // No manifest means nothing was deferred; a manifest that cannot be read
  // whole must not be carried out in part.
  if (!readManifest(staged, paths::manifest).isOk() && manifestExists(env)) {
    staged.release();  // its files stay for another try
    error(state, "cannot read %s, nothing committed", paths::manifest);
    return ExitFailure;
  }
  // The spinner of the copies turns after this text and is wiped at the end.
  state.output.write("finishing install... ");
  state.output.flush();
  ExitStatus status = commitManifest(state, staged, fileDigest(env, paths::manifest));
  state.output.write("\b \n");
  state.output.flush();
  return status;
}

int cancelManifestRun(InstallerState& state) {
  Env& env = state.env;
  if (!startRun(state, false)) return ExitFailure;
  StagedFiles staged(env);
  staged.release();
  // Whatever could be read of it is dropped with it.
  static_cast<void>(readManifest(staged, paths::manifest));
  // The manifest goes first: a --cancel cut short must not leave a manifest
  // whose files are partly gone. Its files are recorded, and a later run
  // removes what is left of them.
  static_cast<void>(env.removeFile(paths::manifest));  // no manifest: nothing to drop
  static_cast<void>(env.removeFile(paths::manifestNotes));
  for (const auto& entry : staged.entries) {
    // The files it moves in that are temporary files of the run that wrote
    // it; the package files it would have moved stay where they are.
    if (entry.second.kind == StagedKind::Move && isTemporaryName(entry.second.target)) {
      static_cast<void>(env.removeFile(entry.second.target));
    }
  }
  removeRunLeftovers(env);
  return ExitSuccess;
}

}  // namespace installer
