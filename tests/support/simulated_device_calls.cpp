// The Env calls of SimulatedDevice, and the files and locks it hands out:
// each call fails as the system call would, or changes the live tree
// through the model in simulated_device.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/path_walk.h"
#include "platform/system_error.h"
#include "support/simulated_device.h"

namespace installer {

namespace {

bool failWith(int error) {
  errno = error;
  return false;
}

std::nullptr_t noFile(int error) {
  errno = error;
  return nullptr;
}

}  // namespace

// A file open for writing. It writes to the inode, whatever its names
// become; once its run is over it fails with EIO. Its failures name the
// path it was opened by, as the device's own files do.
class SimulatedDevice::Writer : public WritableFile {
 public:
  Writer(SimulatedDevice& owner, size_t fs, uint64_t inode, std::string opened)
      : device(owner), fsIndex(fs), number(inode), run(owner.generation), path(std::move(opened)) {}
  Status append(const char* bytes, size_t n) override {
    if (!usable() || device.fails(EnvCall::Write)) return systemError(path, errno);
    if (!device.resize(fsIndex, number, node().data.size() + n)) return systemError(path, errno);
    node().data.append(bytes, n);
    return Status::ok();
  }
  Status sync() override {
    if (!usable() || device.fails(EnvCall::Sync)) return systemError(path, errno);
    device.makeDurable(fsIndex, number);
    return Status::ok();
  }
  Status close() override {
    closed = true;
    return Status::ok();
  }

 private:
  Inode& node() { return device.fileSystems[fsIndex].inodes[number]; }
  bool usable() const {
    if (closed) return failWith(EBADF);
    return run == device.generation || failWith(EIO);
  }

  SimulatedDevice& device;
  size_t fsIndex;
  uint64_t number;
  uint64_t run;
  std::string path;
  bool closed = false;
};

class SimulatedDevice::Reader : public ReadableFile {
 public:
  Reader(SimulatedDevice& owner, size_t fs, uint64_t inode)
      : device(owner), fsIndex(fs), number(inode), run(owner.generation) {}
  Status read(char* bytes, size_t n, size_t& count) override {
    count = 0;
    if (run != device.generation || device.fails(EnvCall::Read)) {
      if (run != device.generation) errno = EIO;
      return systemError("", errno);
    }
    const Inode& node = device.fileSystems[fsIndex].inodes[number];
    if (node.type == FileType::Directory) return systemError("", EISDIR);
    if (node.type == FileType::Other) {
      // A FIFO no one writes to: the read would wait for ever.
      ADD_FAILURE() << "a read of a FIFO, which would block for ever";
      return systemError("", EAGAIN);
    }
    if (position >= node.data.size()) return Status::ok();
    count = std::min(n, node.data.size() - static_cast<size_t>(position));
    node.data.copy(bytes, count, static_cast<size_t>(position));
    position += count;
    return Status::ok();
  }
  Status seek(int64_t offset, int whence, int64_t& result) override {
    if (run != device.generation) return systemError("", EIO);
    const Inode& node = device.fileSystems[fsIndex].inodes[number];
    int64_t from = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(position)
                                        : static_cast<int64_t>(node.data.size());
    if (from + offset < 0 || (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)) {
      return systemError("", EINVAL);
    }
    position = static_cast<uint64_t>(from + offset);
    result = from + offset;
    return Status::ok();
  }

 private:
  SimulatedDevice& device;
  size_t fsIndex;
  uint64_t number;
  uint64_t run;
  uint64_t position = 0;
};

class SimulatedDevice::Lock : public FileLock {
 public:
  Lock(SimulatedDevice& owner, std::pair<size_t, uint64_t> locked)
      : device(owner), key(locked), run(owner.generation) {}
  ~Lock() override {
    if (run == device.generation) device.locks.erase(key);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  SimulatedDevice& device;
  std::pair<size_t, uint64_t> key;
  uint64_t run;
};

std::unique_ptr<WritableFile> SimulatedDevice::openFile(const Where& where, const std::string& path) {
  return std::make_unique<Writer>(*this, where.fs, where.inode, path);
}

std::unique_ptr<ReadableFile> SimulatedDevice::rawOpenReadable(const std::string& path, const ReadLimits& limits) {
  Where where;
  if (fails(EnvCall::OpenRead) || !findExisting(path, limits.followLinks, where)) return nullptr;
  const Inode& node = inodeAt(where);
  if (node.type == FileType::Symlink) return noFile(ELOOP);
  if (limits.regularOnly && node.type != FileType::Regular) return noFile(EINVAL);
  if (node.type == FileType::Regular && node.data.size() > limits.maxBytes) return noFile(EFBIG);
  return std::make_unique<Reader>(*this, where.fs, where.inode);
}

std::unique_ptr<WritableFile> SimulatedDevice::rawOpenWritable(const std::string& path, WriteMode mode,
                                                               uint32_t permissions) {
  Where where;
  if (fails(EnvCall::OpenWrite) || !resolve(path, mode != WriteMode::CreateNew, where)) return nullptr;
  if (where.inode == 0) {
    if (mode == WriteMode::Existing) return noFile(ENOENT);
    if (endsWithSlash(path)) return noFile(EISDIR);
    uint32_t applied = mode == WriteMode::CreateNew ? permissions : permissions & ~creationMask();
    if (!create(where, FileType::Regular, applied, "", false, where.inode)) return nullptr;
    return openFile(where, path);
  }
  if (mode == WriteMode::CreateNew) return noFile(EEXIST);
  Inode& node = fileSystems[where.fs].inodes[where.inode];
  if (node.type == FileType::Directory) return noFile(EISDIR);
  if (mode != WriteMode::Append && resize(where.fs, where.inode, 0)) node.data.clear();
  return openFile(where, path);
}

std::unique_ptr<WritableFile> SimulatedDevice::rawCreateTemporary(const std::string& prefix, std::string& name) {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  if (fails(EnvCall::OpenWrite)) return nullptr;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) {
      randomState = randomState * 6364136223846793005ULL + 1442695040888963407ULL;
      candidate += letters[(randomState >> 33) % (sizeof letters - 1)];
    }
    Where where;
    if (!resolve(candidate, false, where)) return nullptr;
    if (where.inode != 0) continue;
    if (!create(where, FileType::Regular, 0600, "", false, where.inode)) return nullptr;
    name = candidate;
    return openFile(where, candidate);
  }
  return noFile(EEXIST);
}

bool SimulatedDevice::rawStatus(const std::string& path, FileStatus& out) {
  Where where;
  if (!findExisting(path, true, where)) return false;
  fill(where, out);
  return true;
}

bool SimulatedDevice::rawLinkStatus(const std::string& path, FileStatus& out) {
  Where where;
  if (!findExisting(path, false, where)) return false;
  fill(where, out);
  return true;
}

bool SimulatedDevice::rawSpaceStatus(const std::string& path, SpaceStatus& out) {
  Where where;
  if (!findExisting(path, true, where)) return false;
  const FileSystem& fs = fileSystems[where.fs];
  out.blockSize = fs.mount.blockSize;
  out.freeBlocks = freeBlocks(fs);
  out.totalInodes = fs.mount.inodes;
  out.freeInodes = fs.mount.inodes > fs.usedInodes ? fs.mount.inodes - fs.usedInodes : 0;
  return true;
}

bool SimulatedDevice::rawListDirectory(const std::string& path, std::vector<std::string>& names) {
  Where where;
  if (!findExisting(path, true, where)) return false;
  if (inodeAt(where).type != FileType::Directory) return failWith(ENOTDIR);
  for (const auto& entry : fileSystems[where.fs].live[where.inode]) names.push_back(entry.first);
  return true;
}

bool SimulatedDevice::rawRename(const std::string& from, const std::string& to) {
  Where source, target;
  if (fails(EnvCall::Rename) || !findExisting(from, false, source) || !resolve(to, false, target)) return false;
  if (source.dir == 0 || target.dir == 0 || source.components == rootComponents ||
      target.components == rootComponents) {
    return failWith(EBUSY);  // a root or a mount point
  }
  if (source.fs != target.fs) return failWith(EXDEV);
  if (source.inode == target.inode) return true;
  bool directory = inodeAt(source).type == FileType::Directory;
  if (directory && startsWith(target.components, source.components)) return failWith(EINVAL);
  // The mounts stay where their paths are; a directory holding one stays too.
  if (directory && mountBelow(source.components)) return failWith(EBUSY);
  if (target.inode != 0) {
    bool replacesDirectory = inodeAt(target).type == FileType::Directory;
    if (directory != replacesDirectory) return failWith(directory ? ENOTDIR : EISDIR);
    if (replacesDirectory && !fileSystems[target.fs].live[target.inode].empty()) return failWith(ENOTEMPTY);
  }
  Change change;
  change.fs = source.fs;
  change.inode = source.inode;
  change.fromDir = source.dir;
  change.fromName = source.name;
  change.toDir = target.dir;
  change.toName = target.name;
  change.replaced = target.inode;
  commit(change, false);
  return true;
}

void SimulatedDevice::commitUnlink(const Where& where, bool setup) {
  Change change;
  change.fs = where.fs;
  change.inode = where.inode;
  change.fromDir = where.dir;
  change.fromName = where.name;
  commit(change, setup);
}

bool SimulatedDevice::rawRemoveFile(const std::string& path) {
  Where where;
  if (fails(EnvCall::RemoveFile) || !findExisting(path, false, where)) return false;
  if (inodeAt(where).type == FileType::Directory) return failWith(EISDIR);
  commitUnlink(where);
  return true;
}

bool SimulatedDevice::rawRemoveDirectory(const std::string& path) {
  Where where;
  if (fails(EnvCall::RemoveDirectory) || !findExisting(path, false, where)) return false;
  if (inodeAt(where).type != FileType::Directory) return failWith(ENOTDIR);
  if (where.dir == 0 || where.components == rootComponents) return failWith(EBUSY);
  if (!fileSystems[where.fs].live[where.inode].empty()) return failWith(ENOTEMPTY);
  commitUnlink(where);
  return true;
}

bool SimulatedDevice::rawMakeDirectory(const std::string& path, uint32_t mode) {
  Where where;
  uint64_t made;
  if (fails(EnvCall::MakeDirectory) || !resolve(path, false, where)) return false;
  if (where.inode != 0) return failWith(EEXIST);
  return create(where, FileType::Directory, mode & ~creationMask(), "", false, made);
}

bool SimulatedDevice::rawMakeSymlink(const std::string& target, const std::string& path) {
  Where where;
  uint64_t made;
  if (fails(EnvCall::Symlink) || !resolve(path, false, where)) return false;
  if (where.inode != 0) return failWith(EEXIST);
  if (target.empty()) return failWith(ENOENT);
  return create(where, FileType::Symlink, 0777, target, false, made);
}

bool SimulatedDevice::rawReadSymlink(const std::string& path, std::string& target) {
  Where where;
  if (!findExisting(path, false, where)) return false;
  if (inodeAt(where).type != FileType::Symlink) return failWith(EINVAL);
  target = inodeAt(where).data;
  return true;
}

bool SimulatedDevice::rawChangeMode(const std::string& path, uint32_t mode) {
  Where where;
  if (fails(EnvCall::ChangeMode) || !findExisting(path, true, where)) return false;
  fileSystems[where.fs].inodes[where.inode].mode = mode & 07777;
  return true;
}

bool SimulatedDevice::rawSyncPath(const std::string& path) {
  Where where;
  if (fails(EnvCall::Sync) || !findExisting(path, true, where)) return false;
  makeDurable(where.fs, where.inode);
  return true;
}

void SimulatedDevice::syncAll() {
  if (!fails(EnvCall::Sync)) makeAllDurable();
}

bool SimulatedDevice::rawChangeRoot(const std::string& root) {
  Where where;
  if (!findExisting(root, true, where)) return false;
  if (inodeAt(where).type != FileType::Directory) return failWith(ENOTDIR);
  rootComponents = where.components;
  return true;
}

bool SimulatedDevice::rawChangeDirectory(const std::string& path) {
  Where where;
  if (!findExisting(path, true, where)) return false;
  return inodeAt(where).type == FileType::Directory || failWith(ENOTDIR);
}

ImageFileResult SimulatedDevice::findFileInImage(const std::string&, uint32_t, const std::string&, const std::string&,
                                                 Status&) {
  return ImageFileResult::Absent;
}

std::unique_ptr<FileLock> SimulatedDevice::rawLockFile(const std::string& path) {
  Where where;
  if (!resolve(path, false, where)) return nullptr;
  if (where.inode == 0) {
    if (dead) return noFile(EIO);
    if (!create(where, FileType::Regular, 0600, "", false, where.inode)) return nullptr;
  }
  if (inodeAt(where).type == FileType::Symlink) return noFile(ELOOP);
  if (inodeAt(where).type == FileType::Directory) return noFile(EISDIR);
  if (!locks.insert({where.fs, where.inode}).second) return noFile(EWOULDBLOCK);
  return std::make_unique<Lock>(*this, std::make_pair(where.fs, where.inode));
}

const char* SimulatedDevice::variable(const char* name) {
  auto it = variables.find(name);
  return it == variables.end() ? nullptr : it->second.c_str();
}

uint32_t SimulatedDevice::ticks() {
  uint32_t now = clock;
  clock += 20;
  return now;
}

// The Env calls proper: the model's answer, and its errno made a Status.
namespace {

Status outcome(bool done, const std::string& subject) { return done ? Status::ok() : systemError(subject, errno); }

template <class File>
Status opened(std::unique_ptr<File> made, const std::string& subject, std::unique_ptr<File>& file) {
  if (!made) return systemError(subject, errno);
  file = std::move(made);
  return Status::ok();
}

}  // namespace

Status SimulatedDevice::openReadable(const std::string& path, const ReadLimits& limits,
                                     std::unique_ptr<ReadableFile>& file) {
  return opened(rawOpenReadable(path, limits), path, file);
}
Status SimulatedDevice::openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                                     std::unique_ptr<WritableFile>& file) {
  return opened(rawOpenWritable(path, mode, permissions), path, file);
}
Status SimulatedDevice::createTemporary(const std::string& prefix, std::string& name,
                                        std::unique_ptr<WritableFile>& file) {
  return opened(rawCreateTemporary(prefix, name), prefix, file);
}
Status SimulatedDevice::status(const std::string& path, FileStatus& out) { return outcome(rawStatus(path, out), path); }
Status SimulatedDevice::linkStatus(const std::string& path, FileStatus& out) {
  return outcome(rawLinkStatus(path, out), path);
}
Status SimulatedDevice::spaceStatus(const std::string& path, SpaceStatus& out) {
  return outcome(rawSpaceStatus(path, out), path);
}
Status SimulatedDevice::listDirectory(const std::string& path, std::vector<std::string>& names) {
  return outcome(rawListDirectory(path, names), path);
}
Status SimulatedDevice::rename(const std::string& from, const std::string& to) {
  return outcome(rawRename(from, to), to);
}
Status SimulatedDevice::removeFile(const std::string& path) { return outcome(rawRemoveFile(path), path); }
Status SimulatedDevice::removeDirectory(const std::string& path) { return outcome(rawRemoveDirectory(path), path); }
Status SimulatedDevice::makeDirectory(const std::string& path, uint32_t mode) {
  return outcome(rawMakeDirectory(path, mode), path);
}
Status SimulatedDevice::makeSymlink(const std::string& target, const std::string& path) {
  return outcome(rawMakeSymlink(target, path), path);
}
Status SimulatedDevice::readSymlink(const std::string& path, std::string& target) {
  return outcome(rawReadSymlink(path, target), path);
}
Status SimulatedDevice::changeMode(const std::string& path, uint32_t mode) {
  return outcome(rawChangeMode(path, mode), path);
}
Status SimulatedDevice::syncPath(const std::string& path) { return outcome(rawSyncPath(path), path); }
Status SimulatedDevice::changeRoot(const std::string& root) { return outcome(rawChangeRoot(root), root); }
Status SimulatedDevice::changeDirectory(const std::string& path) { return outcome(rawChangeDirectory(path), path); }
Status SimulatedDevice::lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) {
  return opened(rawLockFile(path), path, lock);
}

}  // namespace installer
