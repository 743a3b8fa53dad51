#include "platform/scratch_env.h"

#include <cerrno>
#include <cstdio>

#include "platform/path_walk.h"
#include "platform/system_error.h"

namespace installer {

namespace {

constexpr uint32_t regularBits = 0100000, directoryBits = 040000, linkBits = 0120000;
constexpr uint64_t blockSize = 4096;

std::string joined(const std::string& root, const std::vector<std::string>& components) {
  std::string key = root;
  for (const std::string& component : components) key += "/" + component;
  return key.empty() ? "/" : key;
}

std::string parentOf(const std::string& key) {
  size_t slash = key.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : key.substr(0, slash);
}

class ScratchReadableFile : public ReadableFile {
 public:
  ScratchReadableFile(std::shared_ptr<std::string> contents, std::string name)
      : data(std::move(contents)), path(std::move(name)) {}
  Status read(char* bytes, size_t n, size_t& count) override {
    count = 0;
    if (!data) return systemError(path, EISDIR);  // a directory opens, but does not read
    if (position >= data->size()) return Status::ok();
    count = std::min(n, data->size() - static_cast<size_t>(position));
    data->copy(bytes, count, static_cast<size_t>(position));
    position += count;
    return Status::ok();
  }
  Status seek(int64_t offset, int whence, int64_t& result) override {
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(position)
                                        : static_cast<int64_t>(data ? data->size() : 0);
    if (base + offset < 0 || (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)) {
      return systemError(path, EINVAL);
    }
    position = static_cast<uint64_t>(base + offset);
    result = base + offset;
    return Status::ok();
  }

 private:
  std::shared_ptr<std::string> data;
  std::string path;
  uint64_t position = 0;
};

class ScratchWritableFile : public WritableFile {
 public:
  ScratchWritableFile(ScratchEnv& owner, std::shared_ptr<std::string> contents, std::string name)
      : env(owner), data(std::move(contents)), path(std::move(name)) {}
  Status append(const char* bytes, size_t n) override {
    if (closed) return systemError(path, EBADF);
    Status reserved = env.reserve(path, n);
    if (reserved.isOk()) data->append(bytes, n);
    return reserved;
  }
  Status sync() override { return closed ? systemError(path, EBADF) : Status::ok(); }
  Status close() override {
    closed = true;
    return Status::ok();
  }

 private:
  ScratchEnv& env;
  std::shared_ptr<std::string> data;
  std::string path;
  bool closed = false;
};

class ScratchLock : public FileLock {
 public:
  ScratchLock(ScratchEnv& owner, std::string lockedKey) : env(owner), key(std::move(lockedKey)) {}
  ~ScratchLock() override { env.unlock(key); }
  ScratchLock(const ScratchLock&) = delete;
  ScratchLock& operator=(const ScratchLock&) = delete;

 private:
  ScratchEnv& env;
  std::string key;
};

}  // namespace

ScratchEnv::ScratchEnv(uint64_t bytes) : capacity(bytes) {
  nodes["/"] = Node{FileType::Directory, directoryBits | 0755, nullptr, nextInode++};
}

ScratchEnv::~ScratchEnv() = default;

Status ScratchEnv::reserve(const std::string& path, uint64_t more) {
  if (more > capacity - usedBytes) return systemError(path, ENOSPC);
  usedBytes += more;
  return Status::ok();
}

ScratchEnv::Node* ScratchEnv::find(const std::string& key) {
  auto it = nodes.find(key);
  return it == nodes.end() ? nullptr : &it->second;
}

Status ScratchEnv::resolve(const std::string& path, bool followLast, std::string& key) {
  bool trailingSlash = endsWithSlash(path);
  followLast = followLast || trailingSlash;
  auto look = [&](const std::vector<std::string>& done, bool last, std::string& link, Status& failure) {
    const Node* node = find(joined(rootKey, done));
    if (node == nullptr && last) return WalkStep::Stop;
    if (node == nullptr) {
      failure = systemError(path, ENOENT);
      return WalkStep::Fail;
    }
    if (node->type == FileType::Symlink && (followLast || !last)) {
      link = *node->data;
      return WalkStep::FollowLink;
    }
    if (node->type != FileType::Directory && (!last || trailingSlash)) {
      failure = systemError(path, ENOTDIR);
      return WalkStep::Fail;
    }
    return WalkStep::Next;
  };
  std::vector<std::string> done;
  Status walked = walkPath(path, look, done);
  if (walked.isOk()) key = joined(rootKey, done);
  return walked;
}

Status ScratchEnv::parentIsDirectory(const std::string& path, const std::string& key) {
  const Node* parent = find(parentOf(key));
  if (parent == nullptr) return systemError(path, ENOENT);
  return parent->type == FileType::Directory ? Status::ok() : systemError(path, ENOTDIR);
}

bool ScratchEnv::hasChildren(const std::string& key) const {
  std::string prefix = key == "/" ? key : key + "/";
  auto next = nodes.lower_bound(prefix);
  if (next != nodes.end() && next->first == key) ++next;
  return next != nodes.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

void ScratchEnv::erase(const std::string& key) {
  auto it = nodes.find(key);
  if (it == nodes.end()) return;
  if (it->second.data) release(it->second.data->size());
  nodes.erase(it);
}

void ScratchEnv::fill(const Node& node, FileStatus& out) const {
  out.type = node.type;
  out.mode = node.mode;
  out.size = node.data ? node.data->size() : blockSize;
  out.device = 1;
  out.links = node.type == FileType::Directory ? 2 : 1;
  out.inode = node.inode;
}

Status ScratchEnv::create(const std::string& path, const std::string& key, uint32_t mode,
                          std::unique_ptr<WritableFile>& file) {
  Status parent = parentIsDirectory(path, key);
  if (!parent.isOk()) return parent;
  Node& node = nodes[key];
  node = Node{FileType::Regular, regularBits | (mode & 07777), std::make_shared<std::string>(), nextInode++};
  file = std::make_unique<ScratchWritableFile>(*this, node.data, path);
  return Status::ok();
}

Status ScratchEnv::addDirectories(const std::string& path) {
  for (size_t end = 0; end != std::string::npos;) {
    end = path.find('/', end + 1);
    std::string above = path.substr(0, end);
    FileStatus info;
    if (above.empty() || above.back() == '/') continue;
    Status found = status(above, info);
    if (found.isOk()) {
      if (info.type != FileType::Directory) return systemError(above, ENOTDIR);
      continue;
    }
    if (!found.is(Status::Kind::NotFound)) return found;
    Status made = makeDirectory(above, 0755);
    if (!made.isOk()) return made;
  }
  return Status::ok();
}

Status ScratchEnv::addFile(const std::string& path, const std::string& contents) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    Status directories = addDirectories(path.substr(0, slash));
    if (!directories.isOk()) return directories;
  }
  std::unique_ptr<WritableFile> file;
  Status opened = openWritable(path, WriteMode::Truncate, 0644, file);
  return opened.isOk() ? file->append(contents.data(), contents.size()) : opened;
}

Status ScratchEnv::openReadable(const std::string& path, const ReadLimits& limits,
                                std::unique_ptr<ReadableFile>& file) {
  std::string key;
  Status resolved = resolve(path, limits.followLinks, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  if (node->type == FileType::Symlink) return systemError(path, ELOOP);
  if (limits.regularOnly && node->type != FileType::Regular) return systemError(path, EINVAL);
  if (node->type == FileType::Regular && node->data->size() > limits.maxBytes) return systemError(path, EFBIG);
  file = std::make_unique<ScratchReadableFile>(node->type == FileType::Directory ? nullptr : node->data, path);
  return Status::ok();
}

Status ScratchEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                                std::unique_ptr<WritableFile>& file) {
  std::string key;
  Status resolved = resolve(path, mode != WriteMode::CreateNew, key);
  if (!resolved.isOk()) return resolved;
  Node* node = find(key);
  if (node == nullptr) {
    if (mode == WriteMode::Existing) return systemError(path, ENOENT);
    return create(path, key, mode == WriteMode::CreateNew ? permissions : permissions & ~creationMask(), file);
  }
  if (mode == WriteMode::CreateNew) return systemError(path, EEXIST);
  if (node->type == FileType::Directory) return systemError(path, EISDIR);
  if (mode != WriteMode::Append) {
    release(node->data->size());
    node->data->clear();
  }
  file = std::make_unique<ScratchWritableFile>(*this, node->data, path);
  return Status::ok();
}

Status ScratchEnv::createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (uint32_t n = temporaryCount++, i = 0; i < 6; ++i, n /= 36) suffix += letters[n % 36];
    std::string key;
    Status resolved = resolve(prefix + suffix, false, key);
    if (!resolved.isOk()) return resolved;
    if (find(key) != nullptr) continue;
    Status created = create(prefix + suffix, key, 0600, file);
    if (created.isOk()) name = prefix + suffix;
    return created;
  }
  return systemError(prefix, EEXIST);
}

Status ScratchEnv::status(const std::string& path, FileStatus& out) {
  std::string key;
  Status resolved = resolve(path, true, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  fill(*node, out);
  return Status::ok();
}

Status ScratchEnv::linkStatus(const std::string& path, FileStatus& out) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  fill(*node, out);
  return Status::ok();
}

Status ScratchEnv::spaceStatus(const std::string& path, SpaceStatus& out) {
  FileStatus info;
  Status found = status(path, info);
  if (!found.isOk()) return found;
  out.blockSize = blockSize;
  out.freeBlocks = (capacity - usedBytes) / blockSize;
  return Status::ok();
}

Status ScratchEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::string key;
  Status resolved = resolve(path, true, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  if (node->type != FileType::Directory) return systemError(path, ENOTDIR);
  std::string prefix = key == "/" ? key : key + "/";
  for (auto it = nodes.lower_bound(prefix); it != nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.size() > prefix.size() && it->first.find('/', prefix.size()) == std::string::npos) {
      names.push_back(it->first.substr(prefix.size()));
    }
  }
  return Status::ok();
}

Status ScratchEnv::rename(const std::string& from, const std::string& to) {
  std::string fromKey, toKey;
  Status resolved = resolve(from, false, fromKey);
  if (resolved.isOk()) resolved = resolve(to, false, toKey);
  if (!resolved.isOk()) return resolved;
  Node* source = find(fromKey);
  if (source == nullptr) return systemError(from, ENOENT);
  if (fromKey == toKey) return Status::ok();
  if (fromKey == "/" || toKey.compare(0, fromKey.size() + 1, fromKey + "/") == 0) return systemError(to, EINVAL);
  Status parent = parentIsDirectory(to, toKey);
  if (!parent.isOk()) return parent;
  bool directory = source->type == FileType::Directory;
  if (const Node* existing = find(toKey)) {
    if (directory && existing->type != FileType::Directory) return systemError(to, ENOTDIR);
    if (!directory && existing->type == FileType::Directory) return systemError(to, EISDIR);
    if (hasChildren(toKey)) return systemError(to, ENOTEMPTY);
    erase(toKey);
  }
  std::vector<std::pair<std::string, Node>> moved{{toKey, *source}};
  nodes.erase(fromKey);
  std::string prefix = fromKey + "/";
  for (auto it = nodes.lower_bound(prefix); it != nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
    moved.emplace_back(toKey + it->first.substr(fromKey.size()), it->second);
    it = nodes.erase(it);
  }
  for (auto& entry : moved) nodes[entry.first] = entry.second;
  return Status::ok();
}

Status ScratchEnv::removeFile(const std::string& path) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  if (node->type == FileType::Directory) return systemError(path, EISDIR);
  erase(key);
  return Status::ok();
}

Status ScratchEnv::removeDirectory(const std::string& path) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  if (node->type != FileType::Directory) return systemError(path, ENOTDIR);
  if (key == joined(rootKey, {})) return systemError(path, EBUSY);
  if (hasChildren(key)) return systemError(path, ENOTEMPTY);
  erase(key);
  return Status::ok();
}

Status ScratchEnv::makeDirectory(const std::string& path, uint32_t mode) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  if (find(key) != nullptr) return systemError(path, EEXIST);
  Status parent = parentIsDirectory(path, key);
  if (!parent.isOk()) return parent;
  nodes[key] = Node{FileType::Directory, directoryBits | (mode & ~creationMask() & 07777), nullptr, nextInode++};
  return Status::ok();
}

Status ScratchEnv::makeSymlink(const std::string& target, const std::string& path) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  if (find(key) != nullptr) return systemError(path, EEXIST);
  if (target.empty()) return systemError(path, ENOENT);
  Status room = parentIsDirectory(path, key);
  if (room.isOk()) room = reserve(path, target.size());
  if (!room.isOk()) return room;
  nodes[key] = Node{FileType::Symlink, linkBits | 0777, std::make_shared<std::string>(target), nextInode++};
  return Status::ok();
}

Status ScratchEnv::readSymlink(const std::string& path, std::string& target) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  if (node->type != FileType::Symlink) return systemError(path, EINVAL);
  target = *node->data;
  return Status::ok();
}

Status ScratchEnv::changeMode(const std::string& path, uint32_t mode) {
  std::string key;
  Status resolved = resolve(path, true, key);
  if (!resolved.isOk()) return resolved;
  Node* node = find(key);
  if (node == nullptr) return systemError(path, ENOENT);
  node->mode = (node->mode & ~07777u) | (mode & 07777);
  return Status::ok();
}

Status ScratchEnv::syncPath(const std::string& path) {
  FileStatus info;
  return status(path, info);
}

Status ScratchEnv::changeRoot(const std::string& root) {
  FileStatus info;
  std::string key;
  Status found = status(root, info);
  if (found.isOk()) found = resolve(root, true, key);
  if (!found.isOk()) return found;
  if (info.type != FileType::Directory) return systemError(root, ENOTDIR);
  rootKey = key == "/" ? std::string() : key;
  return Status::ok();
}

Status ScratchEnv::changeDirectory(const std::string& path) {
  FileStatus info;
  Status found = status(path, info);
  if (!found.isOk()) return found;
  return info.type == FileType::Directory ? Status::ok() : systemError(path, ENOTDIR);
}

ImageFileResult ScratchEnv::findFileInImage(const std::string& packagePath, uint32_t, const std::string&,
                                            const std::string&, Status&) {
  FileStatus info;
  if (!status(packagePath, info).isOk()) return ImageFileResult::Failed;
  return info.type == FileType::Regular ? ImageFileResult::Absent : ImageFileResult::Failed;
}

Status ScratchEnv::lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) {
  std::string key;
  Status resolved = resolve(path, false, key);
  if (!resolved.isOk()) return resolved;
  const Node* node = find(key);
  if (node == nullptr) {
    std::unique_ptr<WritableFile> made;
    Status created = create(path, key, 0600, made);
    if (!created.isOk()) return created;
  }
  if (node != nullptr && node->type == FileType::Symlink) return systemError(path, ELOOP);
  if (!locks.insert(key).second) return systemError(path, EWOULDBLOCK);
  lock = std::make_unique<ScratchLock>(*this, key);
  return Status::ok();
}

}  // namespace installer
