// The running system's Env: each call is the system call it names.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/times.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform/env.h"
#include "platform/loop_mount.h"
#include "platform/system_error.h"

namespace installer {

namespace {

constexpr uint32_t tickOffset = 30000;

class PosixReadableFile : public ReadableFile {
 public:
  PosixReadableFile(int descriptor, std::string name, uint64_t limit)
      : fd(descriptor), path(std::move(name)), left(limit) {}
  ~PosixReadableFile() override { ::close(fd); }
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;

  Status read(char* bytes, size_t n, size_t& count) override {
    count = 0;
    if (n > left) n = static_cast<size_t>(left);
    for (;;) {
      ssize_t got = n == 0 ? 0 : ::read(fd, bytes, n);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return systemError(path);
      left -= static_cast<uint64_t>(got);
      count = static_cast<size_t>(got);
      return Status::ok();
    }
  }
  Status seek(int64_t offset, int whence, int64_t& position) override {
    off_t result = ::lseek(fd, static_cast<off_t>(offset), whence);
    if (result < 0) return systemError(path);
    position = static_cast<int64_t>(result);
    return Status::ok();
  }

 private:
  int fd;
  std::string path;
  uint64_t left;  // bytes the limits still allow
};

class PosixWritableFile : public WritableFile {
 public:
  PosixWritableFile(int descriptor, std::string name) : fd(descriptor), path(std::move(name)) {}
  ~PosixWritableFile() override { static_cast<void>(PosixWritableFile::close()); }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  Status append(const char* bytes, size_t n) override {
    while (n > 0) {
      ssize_t written = ::write(fd, bytes, n);
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return systemError(path);
      if (written == 0) return systemError(path, ENOSPC);
      bytes += written;
      n -= static_cast<size_t>(written);
    }
    return Status::ok();
  }
  Status sync() override { return ::fsync(fd) == 0 ? Status::ok() : systemError(path); }
  Status close() override {
    if (fd < 0) return Status::ok();
    int result = ::close(fd);
    fd = -1;
    return result == 0 ? Status::ok() : systemError(path);
  }

 private:
  int fd;
  std::string path;
};

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int descriptor) : fd(descriptor) {}
  ~PosixFileLock() override { ::close(fd); }  // closing releases the lock
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

 private:
  int fd;
};

FileType typeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::Regular;
  if (S_ISDIR(mode)) return FileType::Directory;
  if (S_ISLNK(mode)) return FileType::Symlink;
  return FileType::Other;
}

void fill(const struct stat& info, FileStatus& out) {
  out.type = typeOf(info.st_mode);
  out.mode = static_cast<uint32_t>(info.st_mode);
  out.size = static_cast<uint64_t>(info.st_size);
  out.device = static_cast<uint64_t>(info.st_dev);
  out.links = static_cast<uint64_t>(info.st_nlink);
  out.inode = static_cast<uint64_t>(info.st_ino);
}

// 0, or the errno of the limit an open file breaks.
int breaksLimits(const struct stat& info, const ReadLimits& limits) {
  if (limits.regularOnly && !S_ISREG(info.st_mode)) return EINVAL;
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > limits.maxBytes) return EFBIG;
  return 0;
}

int openFlags(WriteMode mode) {
  switch (mode) {
    case WriteMode::Truncate:
      return O_CREAT | O_TRUNC;
    case WriteMode::Append:
      return O_CREAT | O_APPEND;
    case WriteMode::CreateNew:
      return O_CREAT | O_EXCL;
    case WriteMode::Existing:
      return O_TRUNC;
  }
  return 0;
}

// Ok when the system call returned 0, else its failure on `subject`.
Status checked(int result, const std::string& subject) { return result == 0 ? Status::ok() : systemError(subject); }

class PosixEnv : public Env {
 public:
  Status openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) override {
    // Non-blocking only for the open itself, so that a FIFO without a
    // writer does not block; reads then block as usual.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (limits.followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) return systemError(path);
    struct stat info;
    int refusal = ::fstat(fd, &info) != 0 ? errno : breaksLimits(info, limits);
    if (refusal != 0) {
      ::close(fd);
      return systemError(path, refusal);
    }
    // Reads of a regular file never wait, whatever the flag says; saving
    // the two calls counts when a database of a thousand packages loads.
    if (!S_ISREG(info.st_mode)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file = std::make_unique<PosixReadableFile>(fd, path, limits.maxBytes);
    return Status::ok();
  }

  Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                      std::unique_ptr<WritableFile>& file) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | openFlags(mode), static_cast<mode_t>(permissions));
    if (fd < 0) return systemError(path);
    // A file made new gets exactly the permissions asked for, as a file
    // renamed into place would; the umask does not apply.
    if (mode == WriteMode::CreateNew && ::fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
      Status failure = systemError(path);
      ::close(fd);
      return failure;
    }
    file = std::make_unique<PosixWritableFile>(fd, path);
    return Status::ok();
  }

  Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) override {
    std::string pattern = prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkstemp(buffer.data());
    if (fd < 0) return systemError(pattern);
    name = buffer.data();
    file = std::make_unique<PosixWritableFile>(fd, name);
    return Status::ok();
  }

  Status status(const std::string& path, FileStatus& out) override {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return systemError(path);
    fill(info, out);
    return Status::ok();
  }

  Status linkStatus(const std::string& path, FileStatus& out) override {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return systemError(path);
    fill(info, out);
    return Status::ok();
  }

  Status spaceStatus(const std::string& path, SpaceStatus& out) override {
    struct statfs info;
    if (::statfs(path.c_str(), &info) != 0) return systemError(path);
    out.blockSize = static_cast<uint64_t>(info.f_bsize);
    out.freeBlocks = static_cast<uint64_t>(info.f_bfree);
    out.totalInodes = static_cast<uint64_t>(info.f_files);
    out.freeInodes = static_cast<uint64_t>(info.f_ffree);
    return Status::ok();
  }

  Status listDirectory(const std::string& path, std::vector<std::string>& names) override {
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) return systemError(path);
    while (dirent* entry = ::readdir(directory)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(directory);
    return Status::ok();
  }

  Status rename(const std::string& from, const std::string& to) override {
    return checked(::rename(from.c_str(), to.c_str()), to);
  }
  Status removeFile(const std::string& path) override { return checked(::unlink(path.c_str()), path); }
  Status removeDirectory(const std::string& path) override { return checked(::rmdir(path.c_str()), path); }
  Status makeDirectory(const std::string& path, uint32_t mode) override {
    return checked(::mkdir(path.c_str(), static_cast<mode_t>(mode)), path);
  }
  Status makeSymlink(const std::string& target, const std::string& path) override {
    return checked(::symlink(target.c_str(), path.c_str()), path);
  }

  Status readSymlink(const std::string& path, std::string& target) override {
    char buffer[4096];
    ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (n < 0) return systemError(path);
    if (static_cast<size_t>(n) == sizeof buffer) return systemError(path, ENAMETOOLONG);
    target.assign(buffer, static_cast<size_t>(n));
    return Status::ok();
  }

  Status changeMode(const std::string& path, uint32_t mode) override {
    return checked(::chmod(path.c_str(), static_cast<mode_t>(mode)), path);
  }

  uint32_t creationMask() override {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<uint32_t>(mask);
  }

  Status syncPath(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return systemError(path);
    Status synced = checked(::fsync(fd), path);
    ::close(fd);
    return synced;
  }
  void syncAll() override { ::sync(); }

  Status changeRoot(const std::string& root) override { return checked(::chroot(root.c_str()), root); }
  Status changeDirectory(const std::string& path) override { return checked(::chdir(path.c_str()), path); }

  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage, Status& failure) override {
    return lookIntoImage(packagePath, imageOffset, mountPoint, fileInImage, failure);
  }

  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return systemError(path);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      Status failure = systemError(path);
      ::close(fd);
      return failure;
    }
    lock = std::make_unique<PosixFileLock>(fd);
    return Status::ok();
  }

  const char* variable(const char* name) override { return std::getenv(name); }

  void sleepMilliseconds(unsigned milliseconds) override {
    struct timespec delay = {static_cast<time_t>(milliseconds / 1000),
                             static_cast<long>(milliseconds % 1000) * 1000000};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
  }

  uint32_t ticks() override {
    clock_t ticks = ::times(nullptr);
    if (ticks == static_cast<clock_t>(-1)) return static_cast<uint32_t>(-errno) + tickOffset;
    return static_cast<uint32_t>(ticks) + tickOffset;
  }
};

}  // namespace

Env& Env::posix() {
  static PosixEnv env;
  return env;
}

bool Env::exists(const std::string& path) {
  FileStatus info;
  return status(path, info).isOk();
}

bool Env::isDirectory(const std::string& path) {
  FileStatus info;
  return status(path, info).isOk() && info.type == FileType::Directory;
}

}  // namespace installer
