// Carrying out a staged file set as one transaction, and finishing one that
// was interrupted.
//
// The commit plans its steps (commit_plan.h), checks them in order on a
// model of the file system (commit_preflight.h) and against the room the
// flash has (disk_space.h), copies beside their destinations the few files
// in "/ram" that nothing could make again, flushes everything to the
// storage, and writes the plan as its journal
// ("/flash/var/pdb/.installer-journal"). Only then does it change anything:
// removals and links, renames, copies across file systems, each step done
// so that it can be done again (commit_steps.h). When every change is on
// the storage, the temporary files the work left go, and the journal last.
//
// A run that finds the journal finishes the commit from it before it does
// anything else: a kill or a power cut at any point leaves the old software
// (before the journal) or the new one (after it, once finished). A step that
// fails in the first attempt leaves the journal for the next run; a step
// that cannot be done in that second attempt either is reported, the rest
// is finished, and the journal goes, so no run is ever stuck on it.
#pragma once

#include <set>
#include <string>

#include "model/installer_state.h"
#include "platform/env.h"
#include "staging/package_contents.h"
#include "staging/staged_files.h"

namespace installer {

struct CommitOptions {
  bool showSpinner = false;             // animate the copies (the --commit run)
  PackageContents* contents = nullptr;  // makes lost copies again; null: nothing can
  std::string manifestDigest;           // the manifest this commit carries out; empty: the run's own work
};

enum class CommitResult {
  Done,
  Refused,  // a step cannot be done: reported, nothing changed
  NoRoom,   // the work does not fit: reported, nothing changed
  Failed,   // a step failed after the journal was written: reported; the next run finishes it
};

// Carries out every entry of the set. Unless Done, the set's temporary
// files are gone (nothing changed) or belong to the journal.
[[nodiscard]] CommitResult commitStaged(InstallerState& state, StagedFiles& staged, const CommitOptions& options);

// Whether the set could be committed now: its plan passes the check and
// fits. Refused or NoRoom have been reported. Changes nothing.
[[nodiscard]] CommitResult checkCommit(InstallerState& state, const StagedFiles& staged);

enum class InterruptedCommit {
  None,        // no journal: nothing was interrupted
  Finished,    // complete now; a message said so
  GaveUp,      // done but for the steps reported as failed; the journal is gone
  Refused,     // the journal was not one to act on: reported and removed, nothing done
  Unreadable,  // the journal could not be read: reported; it stays, and the run must stop
};

// Finishes the commit of an earlier run that was interrupted, when its
// journal is there, then removes the temporary files that runs left
// (except those a pending manifest still needs).
[[nodiscard]] InterruptedCommit finishInterruptedCommit(InstallerState& state, PackageContents* contents);

// The temporary files that a pending manifest, not yet carried out, needs.
std::set<std::string> pendingManifestFiles(Env& env);

// Removes what runs left of their temporary files, except those a pending
// manifest needs; nothing while the journal of an unfinished commit is
// there, which still needs its files (the run that finishes it sweeps).
void removeRunLeftovers(Env& env);

}  // namespace installer
