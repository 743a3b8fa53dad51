#include "staging/staged_files.h"

#include <cerrno>

#include "base/path_text.h"
#include "model/installed_files.h"
#include "platform/device_paths.h"

namespace installer {

namespace {

constexpr uint64_t spareBytes = 65536;

void removeTemporary(Env& env, const StagedOp& op) {
  if (op.kind == StagedKind::Write) static_cast<void>(env.removeFile(op.target));
}

std::string temporaryDirectory(Env& env, const std::string& path, uint32_t sizeHint) {
  if (sizeHint == 0) return env.exists(paths::ramDir) ? paths::ramDir : paths::tmpDir;
  uint64_t freeBytes = 0;
  // Only a directory can take the file: a file standing in its place will
  // have given way to one by the time the work is committed.
  std::string directory = nearestAncestor(path, [&env, &freeBytes](const std::string& candidate) {
    SpaceStatus space;
    if (!env.isDirectory(candidate) || !env.spaceStatus(candidate, space)) return false;
    freeBytes = space.freeBlocks * space.blockSize;
    return true;
  });
  if (!directory.empty() && sizeHint + spareBytes < freeBytes) return directory;
  return paths::ramDir;
}

}  // namespace

StagedFiles::~StagedFiles() {
  if (!released) cancelStaged(*this);
}

std::unique_ptr<WritableFile> makeTemporaryIn(StagedFiles& staged, const std::string& directory, std::string& name) {
  Env& env = staged.env();
  // Without the registry a run killed now would leave the file behind for
  // good; the work itself does not depend on it, so it goes on regardless.
  static_cast<void>(staged.temporaries.record(env, directory));
  return env.createTemporary(directory + "/tmp", name);
}

const StagedOp* StagedFiles::find(const std::string& path) const {
  auto it = entries.find(path);
  return it == entries.end() ? nullptr : &it->second;
}

void stageRecord(StagedFiles& staged, const std::string& path, StagedKind kind, const std::string& target) {
  StagedOp& op = staged.entries[path];
  removeTemporary(staged.env(), op);
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
  if (staged.env().exists(path)) {
    stageRecord(staged, path, StagedKind::Delete, std::string());
  } else {
    unstage(staged, path);
  }
}

void unstage(StagedFiles& staged, const std::string& path) {
  auto it = staged.entries.find(path);
  if (it == staged.entries.end()) return;
  removeTemporary(staged.env(), it->second);
  staged.entries.erase(it);
}

std::unique_ptr<WritableFile> createStagedFile(StagedFiles& staged, const std::string& path, uint32_t sizeHint,
                                               uint32_t mode) {
  Env& env = staged.env();
  std::string name;
  std::unique_ptr<WritableFile> file = makeTemporaryIn(staged, temporaryDirectory(env, path, sizeHint), name);
  if (!file) return nullptr;
  if (mode != 0) static_cast<void>(env.changeMode(name, mode));  // a file that keeps 0600 is still usable
  stageRecord(staged, path, StagedKind::Write, name);
  return file;
}

bool stageEmptyFile(StagedFiles& staged, const std::string& path) {
  std::unique_ptr<WritableFile> file = createStagedFile(staged, path, 1, 0);
  if (!file) return false;
  if (file->close()) return true;
  int saved = errno;
  unstage(staged, path);
  errno = saved;
  return false;
}

void stagePackageRemoval(StagedFiles& staged, InstalledPackage& package) {
  // Entries begin with "/": joined to "/flash" they give the same path as the
  // extraction's destination, so a removal and a new file of one path share
  // one entry (and the disk accounting counts the old file once).
  readInstalledFiles(staged.env(), package);
  for (const std::string& file : package.files) {
    stageDelete(staged, !file.empty() && file.front() == '/' ? paths::flashRoot + file : paths::flashDir + file);
  }
  package.files.clear();
  std::string directory = packageDir(package);
  stageDelete(staged, directory);
  stageDelete(staged, directory + "image");
  FileStatus info;
  if ((package.headerFlags & OwnsBootImage) != 0 && staged.env().status(paths::bootImage, info) && info.links == 1) {
    stageDelete(staged, paths::bootImage);
  }
  package.pending = PendingAction::None;
}

void stageImage(StagedFiles& staged, const std::string& packageFile, const std::string& imagePath, bool boot) {
  if (!boot) {
    stageMove(staged, packageFile, imagePath);
    return;
  }
  stageMove(staged, packageFile, paths::bootImage);
  stageSymlink(staged, paths::bootImage, imagePath);
}

void cancelStaged(StagedFiles& staged) {
  for (const auto& entry : staged.entries) removeTemporary(staged.env(), entry.second);
  staged.entries.clear();
  if (!staged.temporaries.empty()) forgetTemporaries(staged.env());
}

void makeDirectories(Env& env, const std::string& path) {
  if (env.makeDirectory(path, 0777) || errno == EEXIST) return;
  std::string parent = parentDirectory(path);
  if (parent != path) makeDirectories(env, parent);
  static_cast<void>(env.makeDirectory(path, 0777));  // what cannot be made shows when it is used
}

std::string nearestAncestor(const std::string& path, const std::function<bool(const std::string&)>& accepts) {
  std::string directory = parentDirectory(path);
  while (!accepts(directory)) {
    if (directory == "/" || directory == ".") return std::string();
    directory = parentDirectory(directory);
  }
  return directory;
}

}  // namespace installer
