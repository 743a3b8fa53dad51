// ScratchEnv: a device file system in memory, thrown away with the Env.
//
// pkgtool's dry run installs a package file on it, and the fuzz targets run
// the installer's readers and its install path on it, so that nothing a
// package or a hostile input makes the code do reaches a disk. It serves
// the files it was given (addFile) and keeps what the code writes, so that
// a file written can be read back, until the ScratchEnv is destroyed. The
// contents of all files together never pass `capacity` bytes: a write or a
// new link that would pass it fails with NoSpace, as on a full disk, so no
// input can make it eat the memory.
//
// Paths resolve as the kernel resolves them: repeated slashes, "." and ".."
// (which stops at the root), symbolic links followed in every component and
// in the last one where the call follows it, at most 40 of them per lookup.
// Failures carry the error the system call would give; permissions are never
// checked (the installer runs as root). There is one file system: every
// path has the same device, and statfs reports the capacity left. Images
// cannot be looked into, so findFileInImage finds nothing in them. Nothing
// sleeps: the clock moves by one tick per call and by the time asked for
// when asked to sleep. The process's umask is taken to be 022.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"

namespace installer {

class ScratchEnv : public Env {
 public:
  explicit ScratchEnv(uint64_t capacity);
  ~ScratchEnv() override;
  ScratchEnv(const ScratchEnv&) = delete;
  ScratchEnv& operator=(const ScratchEnv&) = delete;

  // Puts a regular file (mode 0644) with `contents` at `path`, making the
  // directories above it, replacing a file that stands there. Fails when
  // something other than a directory is in the way or the contents do not
  // fit.
  Status addFile(const std::string& path, const std::string& contents);
  // mkdir -p; fails when something other than a directory is in the way.
  Status addDirectories(const std::string& path);

  Status openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) override;
  Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                      std::unique_ptr<WritableFile>& file) override;
  Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) override;
  Status status(const std::string& path, FileStatus& out) override;
  Status linkStatus(const std::string& path, FileStatus& out) override;
  Status spaceStatus(const std::string& path, SpaceStatus& out) override;
  Status listDirectory(const std::string& path, std::vector<std::string>& names) override;
  Status rename(const std::string& from, const std::string& to) override;
  Status removeFile(const std::string& path) override;
  Status removeDirectory(const std::string& path) override;
  Status makeDirectory(const std::string& path, uint32_t mode) override;
  Status makeSymlink(const std::string& target, const std::string& path) override;
  Status readSymlink(const std::string& path, std::string& target) override;
  Status changeMode(const std::string& path, uint32_t mode) override;
  uint32_t creationMask() override { return 022; }
  Status syncPath(const std::string& path) override;
  void syncAll() override {}
  Status changeRoot(const std::string& root) override;
  Status changeDirectory(const std::string& path) override;
  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage, Status& failure) override;
  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override;
  // No variable is set: the host's do not leak in.
  const char* variable(const char*) override { return nullptr; }
  uint32_t ticks() override { return clock++; }
  void sleepMilliseconds(unsigned milliseconds) override { clock += milliseconds / 10; }

  // Called by the files and locks it hands out.
  // Makes room for `more` bytes of `path`; NoSpace when they do not fit.
  Status reserve(const std::string& path, uint64_t more);
  void release(uint64_t bytes) { usedBytes -= bytes < usedBytes ? bytes : usedBytes; }
  void unlock(const std::string& key) { locks.erase(key); }

 private:
  struct Node {
    FileType type = FileType::Regular;
    uint32_t mode = 0;
    std::shared_ptr<std::string> data;  // a file's contents, or a link's target
    uint64_t inode = 0;                 // kept through renames
  };

  // The key of the node `path` leads to (it need not exist); fails when a
  // component on the way is missing, no directory, or a link loop.
  Status resolve(const std::string& path, bool followLast, std::string& key);
  Node* find(const std::string& key);
  // The key's parent must be an existing directory (NotFound, NotDirectory).
  Status parentIsDirectory(const std::string& path, const std::string& key);
  bool hasChildren(const std::string& key) const;
  void erase(const std::string& key);
  void fill(const Node& node, FileStatus& out) const;
  Status create(const std::string& path, const std::string& key, uint32_t mode, std::unique_ptr<WritableFile>& file);

  uint64_t capacity;
  uint64_t usedBytes = 0;
  std::string rootKey;  // "" for the real root, else the key of the changed root
  std::map<std::string, Node> nodes;
  std::set<std::string> locks;
  uint32_t clock = 30000;
  uint32_t temporaryCount = 0;
  uint64_t nextInode = 1;
};

}  // namespace installer
