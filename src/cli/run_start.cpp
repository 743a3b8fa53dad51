// What every run that works on the device does first: take the run lock,
// finish a commit that an interrupted run left, and remove the temporary
// files of runs that did not finish.
#include <cerrno>
#include <cstring>
#include <set>

#include "cli/postlog.h"
#include "cli/run_modes.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "staging/manifest.h"
#include "staging/staged_commit.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

// How long a run waits for another one to finish.
constexpr unsigned lockWaitMilliseconds = 10000;
constexpr unsigned lockPollMilliseconds = 100;

// The temporary files the pending manifest names: a later --commit needs them.
std::set<std::string> manifestFiles(Env& env) {
  std::set<std::string> named;
  StagedFiles manifest(env);
  manifest.release();  // reading it must delete nothing
  static_cast<void>(readManifest(manifest, paths::manifest));  // what could be read is named
  for (const auto& entry : manifest.entries) {
    if (entry.second.kind == StagedKind::Move) named.insert(entry.second.target);
  }
  return named;
}

// The message of a finished or failed recovery goes to the log now, for
// the runs that write none of their own.
void logNow(InstallerState& state) {
  static_cast<void>(writePostlog(state));  // nowhere left to say that it failed
  state.messages.clear();
}

}  // namespace

bool lockRun(InstallerState& state, std::unique_ptr<FileLock>& lock) {
  Env& env = state.env;
  // Without "/ram" there is nothing to lock, and no other run to meet.
  if (!env.isDirectory(paths::ramDir)) return true;
  for (unsigned waited = 0;; waited += lockPollMilliseconds) {
    lock = env.lockFile(paths::runLock);
    if (lock) return true;
    if (errno != EWOULDBLOCK) {
      error(state, "cannot lock %s: %s", paths::runLock, std::strerror(errno));
      return false;
    }
    if (waited >= lockWaitMilliseconds) break;
    env.sleepMilliseconds(lockPollMilliseconds);
  }
  error(state, "another installer run is in progress, giving up");
  return false;
}

bool startRun(InstallerState& state, bool writesOwnLog) {
  InterruptedCommit recovery = finishInterruptedCommit(state);
  if (recovery != InterruptedCommit::None && !writesOwnLog) logNow(state);
  if (recovery == InterruptedCommit::Failed) return false;
  static_cast<void>(removeLeftovers(state.env, manifestFiles(state.env)));  // how many does not matter
  return true;
}

}  // namespace installer
