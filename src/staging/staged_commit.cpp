#include "staging/staged_commit.h"

#include <map>
#include <vector>

#include "base/path_text.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "staging/commit_journal.h"
#include "staging/commit_preflight.h"
#include "staging/commit_steps.h"
#include "staging/disk_space.h"
#include "staging/file_replacement.h"
#include "staging/manifest.h"
#include "staging/manifest_notes.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

// The plan of `staged`, checked; `measure` reads what the journal records.
CommitResult plannedAndChecked(InstallerState& state, const StagedFiles& staged, bool measure, CommitPlan& plan) {
  Status planned = planCommit(staged, measure, plan);
  if (!planned.isOk()) {
    error(state, "could not read the staged files: %s", planned.reason().c_str());
    return CommitResult::Refused;
  }
  PlanEffects effects;
  if (!preflightCommit(state, plan, &effects)) return CommitResult::Refused;
  CommitRoom room = commitRoom(staged, plan, effects, journalText(plan).size());
  if (room.fits()) return CommitResult::Done;
  reportShortfall(state, room.kernelBytes, room.mainBytes, room.kernelInodes, room.mainInodes);
  return CommitResult::NoRoom;
}

// The nearest existing directory above `path`: where a file for it can be
// made on its file system before anything changes.
std::string existingDirectoryAbove(Env& env, const std::string& path) {
  std::string found = nearestAncestor(path, [&env](const std::string& dir) { return env.isDirectory(dir); });
  return found.empty() ? "/" : found;
}

// A file in "/ram" that nothing could make again is copied beside its
// destination now, and moved in by a rename like the others.
bool copyBeside(InstallerState& state, StagedFiles& staged, CommitStep& step, Spinner* spinner,
                std::vector<std::string>& made, std::vector<std::string>& copied) {
  Env& env = staged.env();
  std::string name;
  std::unique_ptr<WritableFile> file;
  Status done = makeTemporaryIn(staged, existingDirectoryAbove(env, step.path), name, file);
  if (!name.empty()) made.push_back(name);
  bool writeFailed = false;
  if (done.isOk()) done = copyFile(env, step.source, *file, spinner, writeFailed);
  if (writeFailed) reportSystemFailure(state, Status(done.kind(), " write failed", done.reason()));
  if (done.isOk()) done = file->close();
  if (done.isOk()) done = env.changeMode(name, step.mode);
  FileStatus info;
  if (done.isOk()) done = env.linkStatus(name, info);
  if (!done.isOk()) {
    error(state, "cannot install %s: %s", step.path.c_str(), done.reason().c_str());
    return false;
  }
  copied.push_back(step.source);
  step.source = name;
  step.inode = info.inode;
  step.copyFirst = false;
  return true;
}

// Names the temporary file of every copy and makes the copies that must be
// made before anything changes. False, reported, when that fails.
bool prepareSteps(InstallerState& state, StagedFiles& staged, CommitPlan& plan, Spinner* spinner,
                  std::vector<std::string>& made, std::vector<std::string>& copied) {
  for (CommitStep& step : plan.steps) {
    if (step.kind == StepKind::Copy) {
      Status reserved = staged.temporaries.reserve(staged.env(), copyDirectory(step.path), step.temporary);
      if (!reserved.isOk()) {
        error(state, "could not write %s: %s", paths::temporaryRegistry, reserved.reason().c_str());
        return false;
      }
    }
    if (step.kind == StepKind::Copy) copied.push_back(step.source);
    if (step.copyFirst && !copyBeside(state, staged, step, spinner, made, copied)) return false;
  }
  return true;
}

void removeAll(Env& env, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) static_cast<void>(env.removeFile(path));  // gone already is as good
}

// Nothing has changed: the run's own temporary files go; those of a
// manifest stay for another try.
CommitResult abandon(StagedFiles& staged, const std::vector<std::string>& made, CommitResult result) {
  removeAll(staged.env(), made);
  cancelStaged(staged);
  removeRunLeftovers(staged.env());
  return result;
}

bool writeJournal(InstallerState& state, Env& env, const CommitPlan& plan) {
  makeDirectories(env, parentDirectory(paths::commitJournal));  // a flash without a database yet
  Status written = replaceFile(env, paths::commitJournal, journalText(plan));
  if (written.isOk()) return true;
  error(state, "could not write %s: %s", paths::commitJournal, written.reason().c_str());
  return false;
}

// What the commit has put in place is no leftover, whatever its name.
std::set<std::string> placed(const CommitPlan& plan) {
  std::set<std::string> paths;
  for (const CommitStep& step : plan.steps) paths.insert(step.path);
  return paths;
}

void markManifestDone(Env& env, const CommitPlan& plan) {
  ManifestNotes notes;
  if (plan.manifestDigest.empty() || !readManifestNotes(env, plan.manifestDigest, notes)) return;
  notes.committed = true;
  static_cast<void>(writeManifestNotes(env, notes));  // without them a second --commit finds its sources gone
}

// Every change is on the storage: what the work left goes, and the journal
// last, each removal on the storage before the next.
void settle(Env& env, const CommitPlan& plan) {
  env.syncAll();
  markManifestDone(env, plan);
  static_cast<void>(removeLeftovers(env, pendingManifestFiles(env), placed(plan)));  // how many does not matter
  if (env.removeFile(paths::commitJournal).isOk())
    static_cast<void>(env.syncPath(parentDirectory(paths::commitJournal)));
}

// The set's own temporary files, and those of a manifest, that were copied
// rather than moved are not needed any more. (A package file stays.)
void removeCopiedSources(Env& env, const StagedFiles& staged, const std::vector<std::string>& copied) {
  std::map<std::string, const StagedOp*> bySource;
  for (const auto& entry : staged.entries) bySource[normalizedPath(entry.second.target)] = &entry.second;
  for (const std::string& source : copied) {
    auto found = bySource.find(source);
    if (found == bySource.end()) continue;
    const StagedOp& op = *found->second;
    if (op.kind == StagedKind::Write || (op.kind == StagedKind::Move && isTemporaryName(op.target))) {
      static_cast<void>(env.removeFile(op.target));  // gone already is as good
    }
  }
}

// The failed system calls first, as they were met, then the steps they failed.
void reportFailures(InstallerState& state, const std::vector<StepFailure>& failures, const char* format) {
  for (const StepFailure& failure : failures) {
    if (!failure.call.isOk()) reportSystemFailure(state, failure.call);
  }
  for (const StepFailure& failure : failures) error(state, format, failure.path.c_str(), failure.reason.c_str());
}

}  // namespace

std::set<std::string> pendingManifestFiles(Env& env) {
  std::set<std::string> named;
  std::string digest = fileDigest(env, paths::manifest);
  ManifestNotes notes;
  if (digest.empty() || (readManifestNotes(env, digest, notes) && notes.committed)) return named;
  StagedFiles manifest(env);
  manifest.release();                                          // reading it must delete nothing
  static_cast<void>(readManifest(manifest, paths::manifest));  // what could be read is named
  for (const auto& entry : manifest.entries) {
    if (entry.second.kind == StagedKind::Move) named.insert(normalizedPath(entry.second.target));
  }
  return named;
}

void removeRunLeftovers(Env& env) {
  FileStatus journal;
  if (env.linkStatus(paths::commitJournal, journal).isOk()) return;
  static_cast<void>(removeLeftovers(env, pendingManifestFiles(env)));  // how many does not matter
}

CommitResult checkCommit(InstallerState& state, const StagedFiles& staged) {
  CommitPlan plan;
  return plannedAndChecked(state, staged, false, plan);
}

CommitResult commitStaged(InstallerState& state, StagedFiles& staged, const CommitOptions& options) {
  Env& env = staged.env();
  std::vector<std::string> made, copied;
  if (staged.empty()) {
    staged.release();
    env.syncAll();
    return CommitResult::Done;
  }
  CommitPlan plan;
  CommitResult checked = plannedAndChecked(state, staged, true, plan);
  if (checked != CommitResult::Done) return abandon(staged, made, checked);
  plan.manifestDigest = options.manifestDigest;
  Spinner spinner(env, state.output);
  Spinner* shown = options.showSpinner ? &spinner : nullptr;
  if (!prepareSteps(state, staged, plan, shown, made, copied)) return abandon(staged, made, CommitResult::Refused);
  // The temporary files' contents must be on the storage before the
  // journal makes them part of the installed state.
  env.syncAll();
  if (!writeJournal(state, env, plan)) return abandon(staged, made, CommitResult::Refused);
  staged.release();
  std::vector<StepFailure> failures = carryOutPlan(env, plan, shown, options.contents);
  if (!failures.empty()) {
    // The journal stays: the next run tries these steps once more.
    reportFailures(state, failures, "cannot install %s: %s");
    return CommitResult::Failed;
  }
  removeCopiedSources(env, staged, copied);
  settle(env, plan);
  return CommitResult::Done;
}

InterruptedCommit finishInterruptedCommit(InstallerState& state, PackageContents* contents) {
  Env& env = state.env;
  CommitPlan plan;
  std::string why;
  switch (readJournal(env, paths::commitJournal, plan, why)) {
    case JournalRead::Absent:
      return InterruptedCommit::None;
    case JournalRead::Unreadable:
      error(state, "cannot read %s: %s", paths::commitJournal, why.c_str());
      return InterruptedCommit::Unreadable;
    case JournalRead::Refused:
      error(state, "refusing %s, nothing of it is done: %s", paths::commitJournal, why.c_str());
      if (env.removeFile(paths::commitJournal).isOk())
        static_cast<void>(env.syncPath(parentDirectory(paths::commitJournal)));
      return InterruptedCommit::Refused;
    case JournalRead::Read:
      break;
  }
  std::vector<StepFailure> failures = carryOutPlan(env, plan, nullptr, contents);
  reportFailures(state, failures, "the interrupted commit could not install %s: %s");
  settle(env, plan);
  if (!failures.empty()) return InterruptedCommit::GaveUp;
  info(state, "finished the commit of an interrupted run");
  return InterruptedCommit::Finished;
}

}  // namespace installer
