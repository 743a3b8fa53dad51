// RootedEnv: the device's paths inside a directory of the host, as if the
// process had changed its root to that directory, but without chroot, so
// that tests run as a normal user.
//
// Paths are resolved the way the kernel resolves them after chroot: every
// symbolic link on the way is followed inside the root (an absolute target
// starts again at the root, ".." stops at it), the last component only where
// the call would follow it. The environment variables are the Env's own,
// set by the test; the host's do not leak in.
#pragma once

#include <map>
#include <string>

#include "platform/env.h"

namespace installer {

class RootedEnv : public EnvWrapper {
 public:
  // REQUIRES: `hostRoot` is an absolute path of an existing directory.
  explicit RootedEnv(const std::string& hostRoot, Env& host = Env::posix());

  const std::string& root() const { return hostRoot; }
  void setVariable(const std::string& name, const std::string& value) { variables[name] = value; }
  void unsetVariable(const std::string& name) { variables.erase(name); }

  [[nodiscard]] std::unique_ptr<ReadableFile> openReadable(const std::string& path,
                                                           const ReadLimits& limits = ReadLimits()) override;
  [[nodiscard]] std::unique_ptr<WritableFile> openWritable(const std::string& path, WriteMode mode, uint32_t permissions) override;
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
  [[nodiscard]] bool syncPath(const std::string& path) override;
  // Moves the root to `root` inside the current one.
  [[nodiscard]] bool changeRoot(const std::string& root) override;
  [[nodiscard]] bool changeDirectory(const std::string& path) override;
  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage) override;
  [[nodiscard]] std::unique_ptr<FileLock> lockFile(const std::string& path) override;
  const char* variable(const char* name) override;

  // The host path that `path` leads to; false (errno) when a link on the
  // way cannot be read or there are too many of them.
  [[nodiscard]] bool resolve(const std::string& path, bool followLast, std::string& hostPath);

 private:
  std::string hostRoot;
  std::map<std::string, std::string> variables;
};

}  // namespace installer
