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
  Status syncPath(const std::string& path) override;
  // Moves the root to `root` inside the current one.
  Status changeRoot(const std::string& root) override;
  Status changeDirectory(const std::string& path) override;
  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage, Status& failure) override;
  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override;
  const char* variable(const char* name) override;

  // The host path that `path` leads to; fails when a link on the way
  // cannot be read or there are too many of them.
  Status resolve(const std::string& path, bool followLast, std::string& hostPath);

 private:
  // Makes `call` on the host path that `path` leads to.
  template <class Call>
  Status onHost(const std::string& path, bool followLast, Call call) {
    std::string host;
    Status resolved = resolve(path, followLast, host);
    return resolved.isOk() ? call(host) : resolved;
  }

  std::string hostRoot;
  std::map<std::string, std::string> variables;
};

}  // namespace installer
