// ScratchEnv: a device file system in memory, thrown away with the Env.
//
// pkgtool's dry run installs a package file on it, and the fuzz targets run
// the installer's readers and its install path on it, so that nothing a
// package or a hostile input makes the code do reaches a disk. It serves
// the files it was given (addFile) and keeps what the code writes, so that
// a file written can be read back, until the ScratchEnv is destroyed. The
// contents of all files together never pass `capacity` bytes: a write or a
// new link that would pass it fails with ENOSPC, as on a full disk, so no
// input can make it eat the memory.
//
// Paths resolve as the kernel resolves them: repeated slashes, "." and ".."
// (which stops at the root), symbolic links followed in every component and
// in the last one where the call follows it, at most 40 of them per lookup.
// Failures set errno as the system call would; permissions are never
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
  // directories above it, replacing a file that stands there. False (errno)
  // when something other than a directory is in the way or the contents
  // do not fit.
  [[nodiscard]] bool addFile(const std::string& path, const std::string& contents);
  // mkdir -p; false (errno) when something other than a directory is in the way.
  [[nodiscard]] bool addDirectories(const std::string& path);

  [[nodiscard]] std::unique_ptr<ReadableFile> openReadable(const std::string& path,
                                                           const ReadLimits& limits = ReadLimits()) override;
  [[nodiscard]] std::unique_ptr<WritableFile> openWritable(const std::string& path, WriteMode mode,
                                                           uint32_t permissions) override;
  [[nodiscard]] std::unique_ptr<WritableFile> createTemporary(const std::string& prefix, std::string& name) override;
  [[nodiscard]] bool status(const std::string& path, FileStatus& out) override;
  [[nodiscard]] bool linkStatus(const std::string& path, FileStatus& out) override;
  [[nodiscard]] bool spaceStatus(const std::string& path, SpaceStatus& out) override;
  [[nodiscard]] bool listDirectory(const std::string& path, std::vector<std::string>& names) override;
  [[nodiscard]] bool rename(const std::string& from, const std::string& to) override;
  [[nodiscard]] bool removeFile(const std::string& path) override;
  [[nodiscard]] bool removeDirectory(const std::string& path) override;
  [[nodiscard]] bool makeDirectory(const std::string& path, uint32_t mode) override;
  [[nodiscard]] bool makeSymlink(const std::string& target, const std::string& path) override;
  [[nodiscard]] bool readSymlink(const std::string& path, std::string& target) override;
  [[nodiscard]] bool changeMode(const std::string& path, uint32_t mode) override;
  uint32_t creationMask() override { return 022; }
  [[nodiscard]] bool syncPath(const std::string& path) override;
  void syncAll() override {}
  [[nodiscard]] bool changeRoot(const std::string& root) override;
  [[nodiscard]] bool changeDirectory(const std::string& path) override;
  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage) override;
  [[nodiscard]] std::unique_ptr<FileLock> lockFile(const std::string& path) override;
  // No variable is set: the host's do not leak in.
  const char* variable(const char*) override { return nullptr; }
  uint32_t ticks() override { return clock++; }
  void sleepMilliseconds(unsigned milliseconds) override { clock += milliseconds / 10; }

  // Called by the files and locks it hands out.
  // Makes room for `more` bytes; false (ENOSPC) when they do not fit.
  [[nodiscard]] bool reserve(uint64_t more);
  void release(uint64_t bytes) { usedBytes -= bytes < usedBytes ? bytes : usedBytes; }
  void unlock(const std::string& key) { locks.erase(key); }

 private:
  struct Node {
    FileType type = FileType::Regular;
    uint32_t mode = 0;
    std::shared_ptr<std::string> data;  // a file's contents, or a link's target
    uint64_t inode = 0;                 // kept through renames
  };

  // The key of the node `path` leads to (it need not exist); false (errno)
  // when a component on the way is missing, no directory, or a link loop.
  [[nodiscard]] bool resolve(const std::string& path, bool followLast, std::string& key);
  Node* find(const std::string& key);
  // The key's parent must be an existing directory (ENOENT, ENOTDIR).
  [[nodiscard]] bool parentIsDirectory(const std::string& key);
  bool hasChildren(const std::string& key) const;
  void erase(const std::string& key);
  void fill(const Node& node, FileStatus& out) const;
  std::unique_ptr<WritableFile> create(const std::string& key, uint32_t mode);

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
