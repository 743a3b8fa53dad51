// Carrying out a staged file set as one transaction, and finishing one that
// was interrupted.
//
// The commit first checks every step (commit_preflight.h), then copies the
// files that must cross file systems into temporary files beside their
// destinations, so that every remaining step is a rename, a link or a
// removal on one file system. It flushes everything to the storage, writes
// the steps as a journal ("/flash/.installer-journal", in manifest form),
// carries them out in three passes, each in path order (removals and links,
// then renames), and removes the journal last. A run interrupted at any
// point after the journal was written is finished by the next run
// (finishInterruptedCommit); one interrupted before it has changed nothing.
// Every step can be repeated: a removal of what is gone, a link that is
// there, a rename whose source is gone and whose destination exists are
// done. The text spinner runs while files are copied.
#pragma once

#include <cstdint>
#include <string>

#include "model/installer_state.h"
#include "platform/env.h"
#include "staging/staged_files.h"

namespace installer {

struct CommitOptions {
  bool showSpinner = false;  // animate the copies (the --commit run)
  // The set may have been carried out in part before (a manifest committed
  // again): a move whose source is gone and whose destination exists is done.
  bool resume = false;
};

// Carries out every entry of the set. False after a failure, which has been
// reported: before any change (a step that cannot be done, a copy that
// does not fit, a journal that cannot be written) nothing was changed and
// the set's temporary files are gone; a step that failed after the journal
// was written (perror "symlink" or "rename") leaves the journal for the next
// run to finish. Afterwards the set's temporary files are no longer its own.
[[nodiscard]] bool commitStaged(InstallerState& state, StagedFiles& staged, const CommitOptions& options);

enum class InterruptedCommit {
  None,      // no journal: nothing was interrupted
  Finished,  // the interrupted commit is complete now; a message said so
  Failed,    // reported; the journal stays for the next run
};

// Finishes the commit of an earlier run that was interrupted, when its
// journal is there: Failed when the journal cannot be read or a step of it
// fails.
[[nodiscard]] InterruptedCommit finishInterruptedCommit(InstallerState& state);

// The spinner "|/-\" on standard output: one character, overwritten in
// place at most every 20 ticks while copies go on.
class Spinner {
 public:
  explicit Spinner(Env& clock) : env(clock) {}
  // One step, taken after every chunk a copy has written.
  void step();

 private:
  Env& env;
  uint32_t lastTick = 0;  // 0 until the first step
  uint32_t index = 0;     // next character, 0..3
};

// Copies the regular file `source` byte for byte into `to`. False when the
// source is missing or not a regular file, or cannot be read, or `to`
// cannot take all of it (perror " write failed"). `spinner`, when given,
// steps after each chunk.
[[nodiscard]] bool copyFile(Env& env, const std::string& source, WritableFile& to, Spinner* spinner);

}  // namespace installer
