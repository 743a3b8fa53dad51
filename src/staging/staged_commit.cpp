#include "staging/staged_commit.h"

#include <cerrno>
#include <cstdio>
#include <set>
#include <vector>

#include "base/path_text.h"

namespace installer {

namespace {

constexpr uint64_t keptPrefixBytes = 512;

// Removes the visible files of a directory, then the directory. What cannot
// be removed (subdirectories, dot-files) keeps the directory in place.
void removeDirectory(Env& env, const std::string& path) {
  std::vector<std::string> names;
  if (env.listDirectory(path, names)) {
    for (const std::string& name : names) {
      if (name.empty() || name[0] == '.') continue;
      static_cast<void>(env.removeFile(path + "/" + name));
    }
  }
  static_cast<void>(env.removeDirectory(path));
}

void removePath(Env& env, const std::string& path) {
  if (env.removeFile(path) || errno != EISDIR) return;
  removeDirectory(env, path);
}

bool makeLink(Env& env, const std::string& path, const std::string& target) {
  makeDirectories(env, parentDirectory(path));
  static_cast<void>(env.removeFile(path));  // whatever stood there gives way
  if (env.makeSymlink(target, path)) return true;
  std::perror("symlink");
  return false;
}

// Pass 1: removals and links.
bool removeAndLink(StagedFiles& staged) {
  bool ok = true;
  for (const auto& entry : staged.entries) {
    if (entry.second.kind == StagedKind::Delete) removePath(staged.env(), entry.first);
    if (entry.second.kind == StagedKind::Symlink && !makeLink(staged.env(), entry.first, entry.second.target)) {
      ok = false;
    }
  }
  return ok;
}

// The destination of a rename that crossed file systems is cut to its first
// 512 bytes before the copy. A symbolic link standing there is removed
// first, so neither the cut nor the copy reaches the file it points to.
void prepareCopyDestination(Env& env, const std::string& path) {
  FileStatus info;
  if (env.linkStatus(path, info) && info.type == FileType::Symlink) static_cast<void>(env.removeFile(path));
  // A missing destination makes this fail, which is fine: nothing to cut.
  static_cast<void>(env.truncate(path, keptPrefixBytes));
}

// Pass 2: renames. Entries that must be copied instead become Copy entries;
// those that were Write entries are noted in `ownedSources`, since their
// temporary files are the set's to delete once copied.
bool renameIntoPlace(StagedFiles& staged, std::set<std::string>& ownedSources) {
  Env& env = staged.env();
  bool ok = true;
  for (auto& entry : staged.entries) {
    StagedOp& op = entry.second;
    if (op.kind != StagedKind::Move && op.kind != StagedKind::Write) continue;
    makeDirectories(env, parentDirectory(entry.first));
    if (env.rename(op.target, entry.first)) continue;
    if (errno != EXDEV) {
      std::perror("rename");
      ok = false;
      continue;
    }
    if (op.kind == StagedKind::Write) ownedSources.insert(op.target);
    op.kind = StagedKind::Copy;
    prepareCopyDestination(env, entry.first);
  }
  return ok;
}

// Pass 3: copies.
bool copyIntoPlace(StagedFiles& staged, const std::set<std::string>& ownedSources, bool showSpinner) {
  Env& env = staged.env();
  Spinner spinner(env);
  bool ok = true;
  for (const auto& entry : staged.entries) {
    const StagedOp& op = entry.second;
    if (op.kind != StagedKind::Copy) continue;
    if (!copyFile(env, op.target, entry.first, showSpinner ? &spinner : nullptr)) {
      ok = false;
    } else if (ownedSources.count(op.target) != 0) {
      static_cast<void>(env.removeFile(op.target));
    }
  }
  return ok;
}

}  // namespace

bool commitStaged(StagedFiles& staged, bool showSpinner) {
  staged.release();
  staged.env().syncAll();
  std::set<std::string> ownedSources;
  bool linked = removeAndLink(staged);
  bool renamed = renameIntoPlace(staged, ownedSources);
  bool copied = copyIntoPlace(staged, ownedSources, showSpinner);
  staged.env().syncAll();
  return linked && renamed && copied;
}

}  // namespace installer
