// Env: the installer's one seam to the operating system.
//
// Everything the installer does to files, directories, links, mounts and the
// process's root goes through an Env, so that the same code runs on the
// device (Env::posix(), the plain system calls) and on the tests' simulated
// device (in memory, with power cuts and faults injected at any call, run
// as a normal user). Paths are always the device's paths ("/flash/var/pdb/...");
// an Env decides where they lead.
//
// Every call that can fail returns a Status, made where the system call
// failed (platform/system_error.h): its kind tells a full disk from a
// missing file, its reason is the system's own words for the message that
// the caller owns. Nothing here prints.
//
// EnvWrapper forwards every call to another Env; a test Env derives from it
// and overrides only what it changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"

namespace installer {

enum class FileType { Regular, Directory, Symlink, Other };

// What stat or lstat says about a path.
struct FileStatus {
  FileType type = FileType::Other;
  uint32_t mode = 0;  // the whole st_mode: type and permission bits
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t links = 0;
  uint64_t inode = 0;  // with `device`, what the file is, whatever its name
};

// What statfs says about the file system holding a path.
struct SpaceStatus {
  uint64_t blockSize = 0;
  uint64_t freeBlocks = 0;
  // Inodes (f_files, f_ffree); a file system that sets no limit reports 0 of each.
  uint64_t totalInodes = 0;
  uint64_t freeInodes = 0;
};

// The answer of a look into a squashfs image (findFileInImage).
enum class ImageFileResult {
  Present,  // the image holds the file (a regular file, directory, ...; not a symbolic link)
  Absent,   // the image was mounted and does not hold it
  Failed,   // the image could not be attached or mounted
};

// What a file must be to be read, and how much of it may be read. A file
// that breaks these is refused when it is opened, as one that cannot be
// opened is, with the reason the system gives for a link where none may be
// followed (ELOOP), for anything but a regular file (EINVAL), or for a file
// that is too long (EFBIG).
struct ReadLimits {
  bool followLinks = true;         // false: a symbolic link at the path is refused
  bool regularOnly = false;        // a FIFO, a device or a directory is refused
  uint64_t maxBytes = UINT64_MAX;  // reads end after this many bytes; a longer file is refused
};

// A file open for reading, from its start.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Up to n bytes; `count` receives how many were read, 0 at the end.
  // A read interrupted by a signal is repeated.
  virtual Status read(char* bytes, size_t n, size_t& count) = 0;
  // lseek; `position` receives the new offset. Fails when the file cannot
  // seek (a pipe) or the offset is invalid.
  virtual Status seek(int64_t offset, int whence, int64_t& position) = 0;
};

// A file open for writing. Closing happens at the latest when it is destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes all n bytes, or fails. A write that makes no progress counts as
  // a full disk (NoSpace).
  virtual Status append(const char* bytes, size_t n) = 0;
  // Flushes the file's contents to the storage (fsync).
  virtual Status sync() = 0;
  // Fails when the close reported an error; later calls do nothing.
  virtual Status close() = 0;
};

// An exclusive lock on a file, held until it is destroyed.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

enum class WriteMode {
  Truncate,   // create or empty the file
  Append,     // create, or write at its end
  CreateNew,  // create; fails (Exists) when it exists
  Existing,   // empty an existing file; fails when it does not exist
};

class Env {
 public:
  virtual ~Env() = default;

  // The running system, through the plain system calls.
  static Env& posix();

  // Opens a file read-only within `limits`, without blocking on a FIFO (a
  // FIFO planted where a file belongs must not hang the run). `file` is
  // set only on success.
  virtual Status openReadable(const std::string& path, const ReadLimits& limits,
                              std::unique_ptr<ReadableFile>& file) = 0;
  // Opens a file for writing; `permissions` apply to a file it creates. With
  // CreateNew they are applied exactly, whatever the umask.
  virtual Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                              std::unique_ptr<WritableFile>& file) = 0;
  // A new file named `prefix` followed by six letters or digits that make
  // it unique (mkstemp), mode 0600. `name` receives the whole name, in the
  // same form as `prefix`; on failure `name` and `file` stay unchanged.
  virtual Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) = 0;

  // stat and lstat.
  virtual Status status(const std::string& path, FileStatus& out) = 0;
  virtual Status linkStatus(const std::string& path, FileStatus& out) = 0;
  // statfs.
  virtual Status spaceStatus(const std::string& path, SpaceStatus& out) = 0;
  // The names in a directory, in the order the system lists them, without
  // "." and "..". Fails when it cannot be opened.
  virtual Status listDirectory(const std::string& path, std::vector<std::string>& names) = 0;

  virtual Status rename(const std::string& from, const std::string& to) = 0;
  virtual Status removeFile(const std::string& path) = 0;       // unlink
  virtual Status removeDirectory(const std::string& path) = 0;  // rmdir
  virtual Status makeDirectory(const std::string& path, uint32_t mode) = 0;
  virtual Status makeSymlink(const std::string& target, const std::string& path) = 0;
  // NameTooLong when the text does not fit the 4096 bytes read.
  virtual Status readSymlink(const std::string& path, std::string& target) = 0;
  virtual Status changeMode(const std::string& path, uint32_t mode) = 0;
  // The process's file mode creation mask (umask).
  virtual uint32_t creationMask() = 0;
  // fsync of a file or a directory opened by its path.
  virtual Status syncPath(const std::string& path) = 0;
  // sync(): everything written so far goes to the storage.
  virtual void syncAll() = 0;

  // chroot, and chdir.
  virtual Status changeRoot(const std::string& root) = 0;
  virtual Status changeDirectory(const std::string& path) = 0;

  // Looks for `fileInImage` (a full path below `mountPoint`) in the squashfs
  // image that starts `imageOffset` bytes into `packagePath`, through a loop
  // device; nothing stays mounted or attached afterwards. When it fails,
  // `failure` names the step of the loop device's setup that failed and why
  // (see loop_mount.h), for the caller to show; it stays ok when there is
  // nothing to tell (an Env without images).
  virtual ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset,
                                          const std::string& mountPoint, const std::string& fileInImage,
                                          Status& failure) = 0;

  // Takes an exclusive lock on `path` (flock), creating the file when it
  // is missing; fails without waiting when another holder has it (Busy) or
  // the file cannot be opened.
  virtual Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) = 0;

  // getenv; null when the variable is not set.
  virtual const char* variable(const char* name) = 0;
  // A clock in ticks of the times() call, offset by 30000; only differences matter.
  virtual uint32_t ticks() = 0;
  virtual void sleepMilliseconds(unsigned milliseconds) = 0;

  // Conveniences over status().
  bool exists(const std::string& path);
  bool isDirectory(const std::string& path);
};

// Forwards every call to `target`.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : base(target) {}

  Status openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) override {
    return base.openReadable(path, limits, file);
  }
  Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                      std::unique_ptr<WritableFile>& file) override {
    return base.openWritable(path, mode, permissions, file);
  }
  Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) override {
    return base.createTemporary(prefix, name, file);
  }
  Status status(const std::string& path, FileStatus& out) override { return base.status(path, out); }
  Status linkStatus(const std::string& path, FileStatus& out) override { return base.linkStatus(path, out); }
  Status spaceStatus(const std::string& path, SpaceStatus& out) override { return base.spaceStatus(path, out); }
  Status listDirectory(const std::string& path, std::vector<std::string>& names) override {
    return base.listDirectory(path, names);
  }
  Status rename(const std::string& from, const std::string& to) override { return base.rename(from, to); }
  Status removeFile(const std::string& path) override { return base.removeFile(path); }
  Status removeDirectory(const std::string& path) override { return base.removeDirectory(path); }
  Status makeDirectory(const std::string& path, uint32_t mode) override { return base.makeDirectory(path, mode); }
  Status makeSymlink(const std::string& target, const std::string& path) override {
    return base.makeSymlink(target, path);
  }
  Status readSymlink(const std::string& path, std::string& target) override { return base.readSymlink(path, target); }
  Status changeMode(const std::string& path, uint32_t mode) override { return base.changeMode(path, mode); }
  uint32_t creationMask() override { return base.creationMask(); }
  Status syncPath(const std::string& path) override { return base.syncPath(path); }
  void syncAll() override { base.syncAll(); }
  Status changeRoot(const std::string& root) override { return base.changeRoot(root); }
  Status changeDirectory(const std::string& path) override { return base.changeDirectory(path); }
  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage, Status& failure) override {
    return base.findFileInImage(packagePath, imageOffset, mountPoint, fileInImage, failure);
  }
  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override {
    return base.lockFile(path, lock);
  }
  const char* variable(const char* name) override { return base.variable(name); }
  uint32_t ticks() override { return base.ticks(); }
  void sleepMilliseconds(unsigned milliseconds) override { base.sleepMilliseconds(milliseconds); }

 protected:
  Env& target() { return base; }

 private:
  Env& base;
};

}  // namespace installer
