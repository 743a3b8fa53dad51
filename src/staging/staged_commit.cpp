#include "staging/staged_commit.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>

namespace {

constexpr off_t keptPrefixBytes = 512;

// Removes the visible files of a directory, then the directory. What cannot
// be removed (subdirectories, dot-files) keeps the directory in place.
void removeDirectory(const std::string& path) {
  if (DIR* directory = opendir(path.c_str())) {
    while (dirent* entry = readdir(directory)) {
      if (entry->d_name[0] == '\0' || entry->d_name[0] == '.') continue;
      unlink((path + "/" + entry->d_name).c_str());
    }
    closedir(directory);
  }
  rmdir(path.c_str());
}

void removePath(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno != EISDIR) return;
  removeDirectory(path);
}

bool makeLink(const std::string& path, const std::string& target) {
  makeDirectories(parentDirectory(path));
  unlink(path.c_str());
  if (symlink(target.c_str(), path.c_str()) == 0) return true;
  std::perror("symlink");
  return false;
}

// Pass 1: removals and links.
bool removeAndLink(StagedFiles& staged) {
  bool ok = true;
  for (const auto& entry : staged.entries) {
    if (entry.second.kind == StagedKind::Delete) removePath(entry.first);
    if (entry.second.kind == StagedKind::Symlink && !makeLink(entry.first, entry.second.target)) ok = false;
  }
  return ok;
}

// The destination of a rename that crossed file systems is cut to its first
// 512 bytes before the copy. A symbolic link standing there is removed
// first, so neither the cut nor the copy reaches the file it points to.
void prepareCopyDestination(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) unlink(path.c_str());
  // A missing destination makes this fail, which is fine: nothing to cut.
  [[maybe_unused]] int cut = truncate(path.c_str(), keptPrefixBytes);
}

// Pass 2: renames. Entries that must be copied instead become Copy entries;
// those that were Write entries are noted in `ownedSources`, since their
// temporary files are the set's to delete once copied.
bool renameIntoPlace(StagedFiles& staged, std::set<std::string>& ownedSources) {
  bool ok = true;
  for (auto& entry : staged.entries) {
    StagedOp& op = entry.second;
    if (op.kind != StagedKind::Move && op.kind != StagedKind::Write) continue;
    makeDirectories(parentDirectory(entry.first));
    if (rename(op.target.c_str(), entry.first.c_str()) == 0) continue;
    if (errno != EXDEV) {
      std::perror("rename");
      ok = false;
      continue;
    }
    if (op.kind == StagedKind::Write) ownedSources.insert(op.target);
    op.kind = StagedKind::Copy;
    prepareCopyDestination(entry.first);
  }
  return ok;
}

// Pass 3: copies.
bool copyIntoPlace(StagedFiles& staged, const std::set<std::string>& ownedSources, bool showSpinner) {
  bool ok = true;
  for (const auto& entry : staged.entries) {
    const StagedOp& op = entry.second;
    if (op.kind != StagedKind::Copy) continue;
    if (!copyFile(op.target, entry.first, showSpinner)) {
      ok = false;
    } else if (ownedSources.count(op.target) != 0) {
      unlink(op.target.c_str());
    }
  }
  return ok;
}

}  // namespace

bool commitStaged(StagedFiles& staged, bool showSpinner) {
  sync();
  std::set<std::string> ownedSources;
  bool linked = removeAndLink(staged);
  bool renamed = renameIntoPlace(staged, ownedSources);
  bool copied = copyIntoPlace(staged, ownedSources, showSpinner);
  sync();
  return linked && renamed && copied;
}
