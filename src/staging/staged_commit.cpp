#include "staging/staged_commit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "base/path_text.h"
#include "model/messages.h"
#include "platform/device_paths.h"
#include "staging/commit_preflight.h"
#include "staging/file_replacement.h"
#include "staging/manifest.h"

namespace installer {

namespace {

bool isMove(const StagedOp& op) { return op.kind == StagedKind::Move || op.kind == StagedKind::Write; }

// The paths a removal must spare: what the set itself puts in place, and
// what it moves from. (When a journal is finished again, a directory being
// emptied may already hold the new files.)
std::set<std::string> sparedPaths(const StagedFiles& staged) {
  std::set<std::string> spared;
  for (const auto& entry : staged.entries) {
    if (entry.second.kind == StagedKind::Delete) continue;
    spared.insert(entry.first);
    if (isMove(entry.second)) spared.insert(entry.second.target);
  }
  return spared;
}

// Removes the visible files of a directory, then the directory. What cannot
// be removed (subdirectories, dot-files) keeps the directory in place.
void removeDirectory(Env& env, const std::string& path, const std::set<std::string>& spared) {
  std::vector<std::string> names;
  if (env.listDirectory(path, names)) {
    for (const std::string& name : names) {
      std::string child = path + "/" + name;
      if (name.empty() || name[0] == '.' || spared.count(child) != 0) continue;
      static_cast<void>(env.removeFile(child));  // what stays keeps the directory
    }
  }
  static_cast<void>(env.removeDirectory(path));
}

void removePath(Env& env, const std::string& path, const std::set<std::string>& spared) {
  if (env.removeFile(path) || errno != EISDIR) return;
  removeDirectory(env, path, spared);
}

// A directory standing where a file or link goes has been emptied by the
// removals; it gives way now.
void clearEmptiedDirectory(Env& env, const std::string& path) {
  FileStatus info;
  if (env.linkStatus(path, info) && info.type == FileType::Directory) static_cast<void>(env.removeDirectory(path));
}

bool makeLink(Env& env, const std::string& path, const std::string& target) {
  makeDirectories(env, parentDirectory(path));
  std::string present;
  if (env.readSymlink(path, present) && present == target) return true;
  clearEmptiedDirectory(env, path);
  static_cast<void>(env.removeFile(path));  // whatever stood there gives way
  if (env.makeSymlink(target, path)) return true;
  std::perror("symlink");
  return false;
}

bool moveIntoPlace(Env& env, const std::string& path, const std::string& source) {
  FileStatus info;
  // Moved already by the run that was interrupted.
  if (!env.linkStatus(source, info) && env.linkStatus(path, info)) return true;
  clearEmptiedDirectory(env, path);
  makeDirectories(env, parentDirectory(path));
  if (env.rename(source, path)) return true;
  std::perror("rename");
  return false;
}

// Carries out a set whose moves all stay on one file system: removals and
// links first, then renames, each pass in path order. Every step may have
// been done before.
bool carryOut(StagedFiles& staged) {
  Env& env = staged.env();
  std::set<std::string> spared = sparedPaths(staged);
  bool ok = true;
  for (const auto& entry : staged.entries) {
    if (entry.second.kind == StagedKind::Delete) removePath(env, entry.first, spared);
    if (entry.second.kind == StagedKind::Symlink && !makeLink(env, entry.first, entry.second.target)) ok = false;
  }
  for (const auto& entry : staged.entries) {
    if (isMove(entry.second) && !moveIntoPlace(env, entry.first, entry.second.target)) ok = false;
  }
  return ok;
}

// The nearest directory above `path` that exists: where a file for it can
// be made on its file system.
std::string nearestDirectory(Env& env, const std::string& path) {
  std::string found = nearestAncestor(path, [&env](const std::string& dir) { return env.isDirectory(dir); });
  return found.empty() ? "/" : found;
}

bool onSameFileSystem(Env& env, const std::string& source, const std::string& path) {
  FileStatus from, to;
  return env.status(source, from) && env.status(nearestDirectory(env, path), to) && from.device == to.device;
}

// The files a commit copies before its journal, and what it deletes after.
struct Copies {
  std::vector<std::string> made;      // temporary files beside their destinations
  std::vector<std::string> owned;     // the set's own temporary files they were copied from
  std::vector<std::string> consumed;  // temporary files a manifest named, copied too
};

// Copies the source of a move that crosses file systems into a temporary
// file beside its destination, which then takes the source's place. An
// existing destination keeps its permission bits, a new one takes the
// source's.
bool copyAcross(InstallerState& state, StagedFiles& staged, const std::string& path, StagedOp& op, Spinner* spinner,
                Copies& copies) {
  Env& env = staged.env();
  FileStatus source, existing;
  if (!env.status(op.target, source)) return false;
  bool replacesFile = env.linkStatus(path, existing) && existing.type == FileType::Regular;
  uint32_t mode = (replacesFile ? existing.mode : source.mode) & 07777;
  std::string name;
  std::unique_ptr<WritableFile> file = makeTemporaryIn(staged, nearestDirectory(env, path), name);
  bool copied = file && copyFile(env, op.target, *file, spinner) && file->close() && env.changeMode(name, mode);
  if (!name.empty()) copies.made.push_back(name);
  if (!copied) {
    error(state, "cannot install %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  if (op.kind == StagedKind::Write) {
    copies.owned.push_back(op.target);
  } else if (isTemporaryName(op.target)) {
    copies.consumed.push_back(op.target);
  }
  op.kind = StagedKind::Move;
  op.target = name;
  return true;
}

bool copyAcrossFileSystems(InstallerState& state, StagedFiles& staged, const CommitOptions& options,
                           Copies& copies) {
  Env& env = staged.env();
  Spinner spinner(env);
  for (auto& entry : staged.entries) {
    StagedOp& op = entry.second;
    if (!isMove(op) || onSameFileSystem(env, op.target, entry.first)) continue;
    if (!copyAcross(state, staged, entry.first, op, options.showSpinner ? &spinner : nullptr, copies)) return false;
  }
  return true;
}

void removeAll(Env& env, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) static_cast<void>(env.removeFile(path));  // gone already is as good
}

bool writeJournal(InstallerState& state, const StagedFiles& staged) {
  if (replaceFile(staged.env(), paths::commitJournal, manifestText(staged.entries))) return true;
  error(state, "could not write %s: %s", paths::commitJournal, std::strerror(errno));
  return false;
}

void dropJournal(Env& env) {
  if (env.removeFile(paths::commitJournal)) {
    static_cast<void>(env.syncPath(parentDirectory(paths::commitJournal)));  // best effort: replaying is harmless
  }
}

// Nothing has changed: the run's own temporary files go; those of a
// manifest stay for another try.
bool abandon(StagedFiles& staged, const Copies& copies) {
  removeAll(staged.env(), copies.made);
  removeAll(staged.env(), copies.owned);
  cancelStaged(staged);
  return false;
}

}  // namespace

bool commitStaged(InstallerState& state, StagedFiles& staged, const CommitOptions& options) {
  Env& env = staged.env();
  if (staged.empty()) {
    staged.release();
    env.syncAll();
    return true;
  }
  Copies copies;
  if (!preflightCommit(state, staged, options.resume)) return abandon(staged, copies);
  if (!copyAcrossFileSystems(state, staged, options, copies)) return abandon(staged, copies);
  // The temporary files' contents must be on the storage before the
  // journal makes them part of the installed state.
  env.syncAll();
  if (!writeJournal(state, staged)) return abandon(staged, copies);
  staged.release();
  bool done = carryOut(staged);
  removeAll(env, copies.owned);
  removeAll(env, copies.consumed);
  if (done) dropJournal(env);
  if (done) forgetTemporaries(env);
  env.syncAll();
  return done;
}

InterruptedCommit finishInterruptedCommit(InstallerState& state) {
  Env& env = state.env;
  FileStatus info;
  if (!env.linkStatus(paths::commitJournal, info)) return InterruptedCommit::None;
  StagedFiles journal(env);
  journal.release();  // the journal's files belong to the installed state now
  if (!readManifest(journal, paths::commitJournal)) {
    error(state, "cannot read %s: the interrupted commit cannot be finished", paths::commitJournal);
    return InterruptedCommit::Failed;
  }
  bool done = carryOut(journal);
  env.syncAll();
  if (!done) return InterruptedCommit::Failed;
  dropJournal(env);
  installer::info(state, "finished the commit of an interrupted run");
  return InterruptedCommit::Finished;
}

}  // namespace installer
