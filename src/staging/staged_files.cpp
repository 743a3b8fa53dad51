#include "staging/staged_files.h"

#include "base/path_text.h"
#include "model/installed_files.h"
#include "model/installer_files.h"
#include "platform/device_paths.h"
#include "platform/system_error.h"

namespace installer {

namespace {

constexpr uint64_t spareBytes = 65536;

void removeTemporary(Env& env, const StagedOp& op) {
  if (op.kind == StagedKind::Write) static_cast<void>(env.removeFile(op.target));
}

// What the set will make of `path`: a file or link (a Move, Write or
// Symlink entry), nothing (a Delete), or, without an entry, what is there.
enum class Outcome { Unchanged, Removed, Replaced };

Outcome outcomeOf(const StagedFiles& staged, const std::string& path) {
  const StagedOp* op = staged.find(path);
  if (op == nullptr) return Outcome::Unchanged;
  return op->kind == StagedKind::Delete ? Outcome::Removed : Outcome::Replaced;
}

// The set puts a file or link somewhere below `path`, which must then stay
// a directory.
bool fillsBelow(const StagedFiles& staged, const std::string& path) {
  std::string prefix = path + "/";
  for (auto it = staged.entries.lower_bound(prefix); it != staged.entries.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    if (it->second.kind != StagedKind::Delete) return true;
  }
  return false;
}

// The nearest directory above `path` that exists; fails when none can hold
// the file: a file stands on the way that the set leaves there, or the set
// itself puts a file or link where a directory is needed. A file that the
// set removes gives way to a directory by the time of the commit.
Status nearestDirectory(const StagedFiles& staged, const std::string& path, std::string& directory) {
  Env& env = staged.env();
  for (directory = parentDirectory(path);; directory = parentDirectory(directory)) {
    Outcome outcome = outcomeOf(staged, directory);
    if (outcome == Outcome::Replaced) return systemError(directory, Status::Kind::NotDirectory);
    FileStatus info;
    if (env.status(directory, info).isOk()) {
      if (info.type == FileType::Directory) return Status::ok();
      if (outcome != Outcome::Removed) return systemError(directory, Status::Kind::NotDirectory);
    }
    if (directory == "/" || directory == ".") return Status::ok();
  }
}

Status temporaryDirectory(const StagedFiles& staged, const std::string& path, uint32_t sizeHint, std::string& out) {
  Env& env = staged.env();
  if (fillsBelow(staged, path)) return systemError(path, Status::Kind::IsDirectory);
  std::string directory;
  Status found = nearestDirectory(staged, path, directory);
  if (!found.isOk()) return found;
  out = paths::ramDir;
  // Without a size there is nothing to weigh: "/ram", or "/tmp" where there is none.
  if (sizeHint == 0 && !env.exists(paths::ramDir)) out = paths::tmpDir;
  SpaceStatus space;
  if (sizeHint == 0 || !env.spaceStatus(directory, space).isOk()) return Status::ok();
  if (sizeHint + spareBytes < space.freeBlocks * space.blockSize) out = directory;
  return Status::ok();
}

}  // namespace

StagedFiles::~StagedFiles() {
  if (!released) cancelStaged(*this);
}

Status makeTemporaryIn(StagedFiles& staged, const std::string& directory, std::string& name,
                       std::unique_ptr<WritableFile>& file) {
  Env& env = staged.env();
  std::string reserved;
  Status done = staged.temporaries.reserve(env, directory, reserved);
  if (done.isOk()) done = env.openWritable(reserved, WriteMode::CreateNew, 0600, file);
  if (done.isOk()) name = reserved;
  return done;
}

void StagedFiles::readingPackageFile(const std::string& path) {
  currentPackageFile = -1;
  if (path.empty()) return;
  packageFiles.push_back(path);
  currentPackageFile = static_cast<int>(packageFiles.size() - 1);
}

void StagedFiles::forgetPackageFiles() {
  packageFiles.clear();
  currentPackageFile = -1;
  for (auto& entry : entries) entry.second.origin = FileOrigin();
}

const StagedOp* StagedFiles::find(const std::string& path) const {
  auto it = entries.find(path);
  return it == entries.end() ? nullptr : &it->second;
}

void stageRecord(StagedFiles& staged, const std::string& path, StagedKind kind, const std::string& target) {
  StagedOp& op = staged.entries[path];
  removeTemporary(staged.env(), op);
  op = StagedOp{kind, target, FileOrigin()};
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

Status createStagedFile(StagedFiles& staged, const std::string& path, uint32_t sizeHint, uint32_t mode,
                        std::unique_ptr<WritableFile>& file, const RecordPlace* place) {
  Env& env = staged.env();
  std::string directory, name;
  Status done = temporaryDirectory(staged, path, sizeHint, directory);
  if (done.isOk()) done = makeTemporaryIn(staged, directory, name, file);
  if (!done.isOk()) return done;
  if (mode != 0) static_cast<void>(env.changeMode(name, mode));  // a file that keeps 0600 is still usable
  stageRecord(staged, path, StagedKind::Write, name);
  if (place != nullptr && staged.currentPackageFile >= 0) {
    staged.entries[path].origin = FileOrigin{staged.currentPackageFile, place->member, place->record};
  }
  return Status::ok();
}

Status stageEmptyFile(StagedFiles& staged, const std::string& path) {
  std::unique_ptr<WritableFile> file;
  Status done = createStagedFile(staged, path, 1, 0, file);
  if (done.isOk()) done = file->close();
  if (!done.isOk() && file) unstage(staged, path);
  return done;
}

void stagePackageRemoval(StagedFiles& staged, InstalledPackage& package) {
  // Entries begin with "/": joined to "/flash" they give the same path as the
  // extraction's destination, so a removal and a new file of one path share
  // one entry (and the disk accounting counts the old file once).
  readInstalledFiles(staged.env(), package);
  for (const std::string& file : package.files) {
    std::string path = !file.empty() && file.front() == '/' ? paths::flashRoot + file : paths::flashDir + file;
    // An older installer may have let a package list one of the installer's own files.
    if (!isInstallerOwnPath(path)) stageDelete(staged, path);
  }
  package.files.clear();
  std::string directory = packageDir(package);
  stageDelete(staged, directory);
  stageDelete(staged, directory + "image");
  FileStatus info;
  if ((package.headerFlags & OwnsBootImage) != 0 && staged.env().status(paths::bootImage, info).isOk() &&
      info.links == 1) {
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
}

void makeDirectories(Env& env, const std::string& path) {
  Status made = env.makeDirectory(path, 0777);
  if (made.isOk() || made.is(Status::Kind::Exists)) return;
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
