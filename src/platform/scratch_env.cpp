#include "platform/scratch_env.h"

#include <cerrno>
#include <cstdio>

#include "platform/path_walk.h"

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

bool fails(int error) {
  errno = error;
  return false;
}

WalkStep failedStep(int error) {
  errno = error;
  return WalkStep::Fail;
}

// A failed open: null, with errno set.
std::nullptr_t noFile(int error) {
  errno = error;
  return nullptr;
}

class ScratchReadableFile : public ReadableFile {
 public:
  explicit ScratchReadableFile(std::shared_ptr<std::string> contents) : data(std::move(contents)) {}
  long read(char* bytes, size_t n) override {
    if (!data) {  // a directory opens, but does not read
      errno = EISDIR;
      return -1;
    }
    if (position >= data->size()) return 0;
    size_t count = std::min(n, data->size() - static_cast<size_t>(position));
    data->copy(bytes, count, static_cast<size_t>(position));
    position += count;
    return static_cast<long>(count);
  }
  int64_t seek(int64_t offset, int whence) override {
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(position)
                                                                : static_cast<int64_t>(data ? data->size() : 0);
    if (base + offset < 0 || (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)) {
      errno = EINVAL;
      return -1;
    }
    position = static_cast<uint64_t>(base + offset);
    return base + offset;
  }

 private:
  std::shared_ptr<std::string> data;
  uint64_t position = 0;
};

class ScratchWritableFile : public WritableFile {
 public:
  ScratchWritableFile(ScratchEnv& owner, std::shared_ptr<std::string> contents) : env(owner), data(std::move(contents)) {}
  bool append(const char* bytes, size_t n) override {
    if (closed) return fails(EBADF);
    if (!env.reserve(n)) return false;
    data->append(bytes, n);
    return true;
  }
  bool sync() override { return !closed || fails(EBADF); }
  bool close() override {
    closed = true;
    return true;
  }

 private:
  ScratchEnv& env;
  std::shared_ptr<std::string> data;
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

ScratchEnv::ScratchEnv(uint64_t bytes) : capacity(bytes) { nodes["/"] = Node{FileType::Directory, directoryBits | 0755, nullptr, nextInode++}; }

ScratchEnv::~ScratchEnv() = default;

bool ScratchEnv::reserve(uint64_t more) {
  if (more > capacity - usedBytes) return fails(ENOSPC);
  usedBytes += more;
  return true;
}

ScratchEnv::Node* ScratchEnv::find(const std::string& key) {
  auto it = nodes.find(key);
  return it == nodes.end() ? nullptr : &it->second;
}

bool ScratchEnv::resolve(const std::string& path, bool followLast, std::string& key) {
  bool trailingSlash = endsWithSlash(path);
  followLast = followLast || trailingSlash;
  auto look = [&](const std::vector<std::string>& done, bool last, std::string& link) {
    const Node* node = find(joined(rootKey, done));
    if (node == nullptr) return last ? WalkStep::Stop : failedStep(ENOENT);
    if (node->type == FileType::Symlink && (followLast || !last)) {
      link = *node->data;
      return WalkStep::FollowLink;
    }
    if (node->type != FileType::Directory && (!last || trailingSlash)) return failedStep(ENOTDIR);
    return WalkStep::Next;
  };
  std::vector<std::string> done;
  if (!walkPath(path, look, done)) return false;
  key = joined(rootKey, done);
  return true;
}

bool ScratchEnv::parentIsDirectory(const std::string& key) {
  const Node* parent = find(parentOf(key));
  if (parent == nullptr) return fails(ENOENT);
  return parent->type == FileType::Directory || fails(ENOTDIR);
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

std::unique_ptr<WritableFile> ScratchEnv::create(const std::string& key, uint32_t mode) {
  if (!parentIsDirectory(key)) return nullptr;
  Node& node = nodes[key];
  node = Node{FileType::Regular, regularBits | (mode & 07777), std::make_shared<std::string>(), nextInode++};
  return std::make_unique<ScratchWritableFile>(*this, node.data);
}

bool ScratchEnv::addDirectories(const std::string& path) {
  for (size_t end = 0; end != std::string::npos;) {
    end = path.find('/', end + 1);
    std::string above = path.substr(0, end);
    FileStatus info;
    if (above.empty() || above.back() == '/') continue;
    if (status(above, info)) {
      if (info.type != FileType::Directory) return fails(ENOTDIR);
    } else if (errno != ENOENT || !makeDirectory(above, 0755)) {
      return false;
    }
  }
  return true;
}

bool ScratchEnv::addFile(const std::string& path, const std::string& contents) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !addDirectories(path.substr(0, slash))) return false;
  std::unique_ptr<WritableFile> file = openWritable(path, WriteMode::Truncate, 0644);
  return file && file->append(contents.data(), contents.size());
}

std::unique_ptr<ReadableFile> ScratchEnv::openReadable(const std::string& path, const ReadLimits& limits) {
  std::string key;
  if (!resolve(path, limits.followLinks, key)) return nullptr;
  const Node* node = find(key);
  if (node == nullptr) return noFile(ENOENT);
  if (node->type == FileType::Symlink) return noFile(ELOOP);
  if (limits.regularOnly && node->type != FileType::Regular) return noFile(EINVAL);
  if (node->type == FileType::Regular && node->data->size() > limits.maxBytes) return noFile(EFBIG);
  return std::make_unique<ScratchReadableFile>(node->type == FileType::Directory ? nullptr : node->data);
}

std::unique_ptr<WritableFile> ScratchEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions) {
  std::string key;
  if (!resolve(path, mode != WriteMode::CreateNew, key)) return nullptr;
  Node* node = find(key);
  if (node == nullptr) {
    if (mode == WriteMode::Existing) return noFile(ENOENT);
    return create(key, mode == WriteMode::CreateNew ? permissions : permissions & ~creationMask());
  }
  if (mode == WriteMode::CreateNew) return noFile(EEXIST);
  if (node->type == FileType::Directory) return noFile(EISDIR);
  if (mode != WriteMode::Append) {
    release(node->data->size());
    node->data->clear();
  }
  return std::make_unique<ScratchWritableFile>(*this, node->data);
}

std::unique_ptr<WritableFile> ScratchEnv::createTemporary(const std::string& prefix, std::string& name) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (uint32_t n = temporaryCount++, i = 0; i < 6; ++i, n /= 36) suffix += letters[n % 36];
    std::string key;
    if (!resolve(prefix + suffix, false, key)) return nullptr;
    if (find(key) != nullptr) continue;
    std::unique_ptr<WritableFile> file = create(key, 0600);
    if (file) name = prefix + suffix;
    return file;
  }
  return noFile(EEXIST);
}

bool ScratchEnv::status(const std::string& path, FileStatus& out) {
  std::string key;
  if (!resolve(path, true, key)) return false;
  const Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  fill(*node, out);
  return true;
}

bool ScratchEnv::linkStatus(const std::string& path, FileStatus& out) {
  std::string key;
  if (!resolve(path, false, key)) return false;
  const Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  fill(*node, out);
  return true;
}

bool ScratchEnv::spaceStatus(const std::string& path, SpaceStatus& out) {
  FileStatus info;
  if (!status(path, info)) return false;
  out.blockSize = blockSize;
  out.freeBlocks = (capacity - usedBytes) / blockSize;
  return true;
}

bool ScratchEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::string key;
  if (!resolve(path, true, key)) return false;
  const Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  if (node->type != FileType::Directory) return fails(ENOTDIR);
  std::string prefix = key == "/" ? key : key + "/";
  for (auto it = nodes.lower_bound(prefix); it != nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    if (it->first.size() > prefix.size() && it->first.find('/', prefix.size()) == std::string::npos) {
      names.push_back(it->first.substr(prefix.size()));
    }
  }
  return true;
}

bool ScratchEnv::rename(const std::string& from, const std::string& to) {
  std::string fromKey, toKey;
  if (!resolve(from, false, fromKey) || !resolve(to, false, toKey)) return false;
  Node* source = find(fromKey);
  if (source == nullptr) return fails(ENOENT);
  if (fromKey == toKey) return true;
  if (fromKey == "/" || toKey.compare(0, fromKey.size() + 1, fromKey + "/") == 0) return fails(EINVAL);
  if (!parentIsDirectory(toKey)) return false;
  bool directory = source->type == FileType::Directory;
  if (const Node* existing = find(toKey)) {
    if (directory && existing->type != FileType::Directory) return fails(ENOTDIR);
    if (!directory && existing->type == FileType::Directory) return fails(EISDIR);
    if (hasChildren(toKey)) return fails(ENOTEMPTY);
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
  return true;
}

bool ScratchEnv::removeFile(const std::string& path) {
  std::string key;
  if (!resolve(path, false, key)) return false;
  const Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  if (node->type == FileType::Directory) return fails(EISDIR);
  erase(key);
  return true;
}

bool ScratchEnv::removeDirectory(const std::string& path) {
  std::string key;
  if (!resolve(path, false, key)) return false;
  const Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  if (node->type != FileType::Directory) return fails(ENOTDIR);
  if (key == joined(rootKey, {})) return fails(EBUSY);
  if (hasChildren(key)) return fails(ENOTEMPTY);
  erase(key);
  return true;
}

bool ScratchEnv::makeDirectory(const std::string& path, uint32_t mode) {
  std::string key;
  if (!resolve(path, false, key)) return false;
  if (find(key) != nullptr) return fails(EEXIST);
  if (!parentIsDirectory(key)) return false;
  nodes[key] = Node{FileType::Directory, directoryBits | (mode & ~creationMask() & 07777), nullptr, nextInode++};
  return true;
}

bool ScratchEnv::makeSymlink(const std::string& target, const std::string& path) {
  std::string key;
  if (!resolve(path, false, key)) return false;
  if (find(key) != nullptr) return fails(EEXIST);
  if (target.empty()) return fails(ENOENT);
  if (!parentIsDirectory(key) || !reserve(target.size())) return false;
  nodes[key] = Node{FileType::Symlink, linkBits | 0777, std::make_shared<std::string>(target), nextInode++};
  return true;
}

bool ScratchEnv::readSymlink(const std::string& path, std::string& target) {
  std::string key;
  if (!resolve(path, false, key)) return false;
  const Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  if (node->type != FileType::Symlink) return fails(EINVAL);
  target = *node->data;
  return true;
}

bool ScratchEnv::changeMode(const std::string& path, uint32_t mode) {
  std::string key;
  if (!resolve(path, true, key)) return false;
  Node* node = find(key);
  if (node == nullptr) return fails(ENOENT);
  node->mode = (node->mode & ~07777u) | (mode & 07777);
  return true;
}

bool ScratchEnv::syncPath(const std::string& path) {
  FileStatus info;
  return status(path, info);
}

bool ScratchEnv::changeRoot(const std::string& root) {
  FileStatus info;
  std::string key;
  if (!status(root, info) || !resolve(root, true, key)) return false;
  if (info.type != FileType::Directory) return fails(ENOTDIR);
  rootKey = key == "/" ? std::string() : key;
  return true;
}

bool ScratchEnv::changeDirectory(const std::string& path) {
  FileStatus info;
  if (!status(path, info)) return false;
  return info.type == FileType::Directory || fails(ENOTDIR);
}

ImageFileResult ScratchEnv::findFileInImage(const std::string& packagePath, uint32_t, const std::string&,
                                            const std::string&) {
  FileStatus info;
  if (!status(packagePath, info)) return ImageFileResult::Failed;
  return info.type == FileType::Regular ? ImageFileResult::Absent : ImageFileResult::Failed;
}

std::unique_ptr<FileLock> ScratchEnv::lockFile(const std::string& path) {
  std::string key;
  if (!resolve(path, false, key)) return nullptr;
  const Node* node = find(key);
  if (node == nullptr && !create(key, 0600)) return nullptr;
  if (node != nullptr && node->type == FileType::Symlink) return noFile(ELOOP);
  if (!locks.insert(key).second) return noFile(EWOULDBLOCK);
  return std::make_unique<ScratchLock>(*this, key);
}

}  // namespace installer
