#include "staging/staged_files.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "pdb/package_info.h"
#include "platform/device_paths.h"

namespace {

constexpr uint64_t spareBytes = 65536;

void removeTemporary(const StagedOp& op) {
  if (op.kind == StagedKind::Write) unlink(op.target.c_str());
}

// The nearest existing directory at or above `path` that statfs can read,
// and its free bytes; false when none can.
bool freeBytesNear(const std::string& path, std::string& directory, uint64_t& freeBytes) {
  directory = parentDirectory(path);
  struct statfs info;
  while (statfs(directory.c_str(), &info) != 0) {
    if (directory == "/" || directory == ".") return false;
    directory = parentDirectory(directory);
  }
  freeBytes = static_cast<uint64_t>(info.f_bfree) * static_cast<uint64_t>(info.f_bsize);
  return true;
}

std::string temporaryDirectory(const std::string& path, uint32_t sizeHint) {
  std::string directory = paths::ramDir;
  struct stat info;
  if (sizeHint == 0) {
    if (stat(paths::ramDir, &info) != 0) directory = paths::tmpDir;
    return directory;
  }
  std::string candidate;
  uint64_t freeBytes = 0;
  if (freeBytesNear(path, candidate, freeBytes) && sizeHint + spareBytes < freeBytes) directory = candidate;
  return directory;
}

}  // namespace

const StagedOp* StagedFiles::find(const std::string& path) const {
  auto it = entries.find(path);
  return it == entries.end() ? nullptr : &it->second;
}

void stageRecord(StagedFiles& staged, const std::string& path, StagedKind kind, const std::string& target) {
  StagedOp& op = staged.entries[path];
  removeTemporary(op);
  op.kind = kind;
  op.target = target;
}

void stageMove(StagedFiles& staged, const std::string& from, const std::string& to) {
  stageRecord(staged, to, StagedKind::Move, from);
}

void stageSymlink(StagedFiles& staged, const std::string& linkText, const std::string& linkPath) {
  stageRecord(staged, linkPath, StagedKind::Symlink, linkText);
}

void stageDelete(StagedFiles& staged, const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    stageRecord(staged, path, StagedKind::Delete, std::string());
  } else {
    unstage(staged, path);
  }
}

void unstage(StagedFiles& staged, const std::string& path) {
  auto it = staged.entries.find(path);
  if (it == staged.entries.end()) return;
  removeTemporary(it->second);
  staged.entries.erase(it);
}

std::ofstream createStagedFile(StagedFiles& staged, const std::string& path, uint32_t sizeHint, uint32_t mode) {
  std::string name = temporaryDirectory(path, sizeHint) + "/tmpXXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int descriptor = mkstemp(buffer.data());
  if (descriptor < 0) return std::ofstream();
  close(descriptor);
  name = buffer.data();
  if (mode != 0) chmod(name.c_str(), mode);
  stageRecord(staged, path, StagedKind::Write, name);
  std::ofstream stream(name, std::ios::binary | std::ios::trunc);
  if (!stream.is_open()) {
    // An entry nobody can write would later put an empty file in place.
    int saved = errno;
    unstage(staged, path);
    errno = saved;
  }
  return stream;
}

void stagePackageRemoval(StagedFiles& staged, InstalledPackage& package) {
  // Entries begin with "/": joined to "/flash" they give the same path as the
  // extraction's destination, so a removal and a new file of one path share
  // one entry (and the disk accounting counts the old file once).
  for (const std::string& file : package.files) {
    stageDelete(staged, !file.empty() && file.front() == '/' ? paths::flashRoot + file : paths::flashDir + file);
  }
  package.files.clear();
  std::string directory = packageDir(package);
  stageDelete(staged, directory);
  stageDelete(staged, directory + "image");
  struct stat info;
  if ((package.headerFlags & OwnsBootImage) != 0 && stat(paths::bootImage, &info) == 0 && info.st_nlink == 1) {
    stageDelete(staged, paths::bootImage);
  }
  package.pending = PendingAction::None;
}

void cancelStaged(StagedFiles& staged) {
  for (const auto& entry : staged.entries) removeTemporary(entry.second);
  staged.entries.clear();
}

std::string parentDirectory(const std::string& path) {
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  std::vector<char> buffer(trimmed.begin(), trimmed.end());
  buffer.push_back('\0');
  return dirname(buffer.data());
}

void makeDirectories(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return;
  std::string parent = parentDirectory(path);
  if (parent != path) makeDirectories(parent);
  mkdir(path.c_str(), 0777);
}
