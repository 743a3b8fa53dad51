// What every run that works on the device does first: take the run lock,
// finish a commit that an interrupted run left, and remove the temporary
// files of runs that did not finish.
#include "cli/run_start.h"

#include <cstring>
#include <set>

#include "cli/postlog.h"
#include "install/package_rebuild.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "staging/staged_commit.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

// How long a run waits for another one to finish.
constexpr unsigned lockWaitMilliseconds = 10000;
constexpr unsigned lockPollMilliseconds = 100;

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
    Status locked = env.lockFile(paths::runLock, lock);
    if (locked.isOk()) return true;
    if (!locked.is(Status::Kind::Busy)) {
      error(state, "cannot lock %s: %s", paths::runLock, locked.reason().c_str());
      return false;
    }
    if (waited >= lockWaitMilliseconds) break;
    env.sleepMilliseconds(lockPollMilliseconds);
  }
  error(state, "another installer run is in progress, giving up");
  return false;
}

bool startRun(InstallerState& state, bool writesOwnLog) {
  PackageFileContents contents;
  InterruptedCommit recovery = finishInterruptedCommit(state, &contents);
  if (recovery != InterruptedCommit::None && !writesOwnLog) logNow(state);
  // A journal that cannot be read now may be read later; nothing must
  // change on top of a commit that is not finished.
  if (recovery == InterruptedCommit::Unreadable) return false;
  removeRunLeftovers(state.env);
  return true;
}

}  // namespace installer
