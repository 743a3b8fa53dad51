#include "support/rooted_env.h"

#include <cerrno>
#include <vector>

#include "platform/path_walk.h"
#include "platform/system_error.h"

namespace installer {

namespace {

std::string joined(const std::string& root, const std::vector<std::string>& components) {
  std::string path = root;
  for (const std::string& component : components) path += "/" + component;
  return path;
}

}  // namespace

RootedEnv::RootedEnv(const std::string& root, Env& host) : EnvWrapper(host), hostRoot(root) {
  while (hostRoot.size() > 1 && hostRoot.back() == '/') hostRoot.pop_back();
}

Status RootedEnv::resolve(const std::string& path, bool followLast, std::string& hostPath) {
  bool trailingSlash = endsWithSlash(path);
  followLast = followLast || trailingSlash;
  auto look = [&](const std::vector<std::string>& done, bool last, std::string& link, Status& failure) {
    if (last && !followLast) return WalkStep::Stop;
    FileStatus info;
    if (!target().linkStatus(joined(hostRoot, done), info).isOk() || info.type != FileType::Symlink) {
      return WalkStep::Next;
    }
    failure = target().readSymlink(joined(hostRoot, done), link);
    return failure.isOk() ? WalkStep::FollowLink : WalkStep::Fail;
  };
  std::vector<std::string> done;
  Status walked = walkPath(path, look, done);
  if (!walked.isOk()) return walked;
  hostPath = done.empty() ? hostRoot : joined(hostRoot, done);
  if (trailingSlash) hostPath += "/";
  return Status::ok();
}

Status RootedEnv::openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) {
  std::string host;
  Status resolved = resolve(path, limits.followLinks, host);
  return resolved.isOk() ? target().openReadable(host, limits, file) : resolved;
}

Status RootedEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                               std::unique_ptr<WritableFile>& file) {
  std::string host;
  Status resolved = resolve(path, mode != WriteMode::CreateNew, host);
  return resolved.isOk() ? target().openWritable(host, mode, permissions, file) : resolved;
}

Status RootedEnv::createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) {
  size_t slash = prefix.rfind('/');
  std::string directory = slash == std::string::npos ? "/" : prefix.substr(0, slash + 1);
  std::string hostDirectory;
  Status resolved = resolve(directory, true, hostDirectory);
  if (!resolved.isOk()) return resolved;
  if (hostDirectory.back() != '/') hostDirectory += "/";
  std::string hostPrefix = hostDirectory + prefix.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string hostName;
  Status created = target().createTemporary(hostPrefix, hostName, file);
  if (created.isOk()) name = prefix + hostName.substr(hostPrefix.size());
  return created;
}

Status RootedEnv::status(const std::string& path, FileStatus& out) {
  std::string host;
  Status resolved = resolve(path, true, host);
  return resolved.isOk() ? target().status(host, out) : resolved;
}

Status RootedEnv::linkStatus(const std::string& path, FileStatus& out) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().linkStatus(host, out) : resolved;
}

Status RootedEnv::spaceStatus(const std::string& path, SpaceStatus& out) {
  std::string host;
  Status resolved = resolve(path, true, host);
  return resolved.isOk() ? target().spaceStatus(host, out) : resolved;
}

Status RootedEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::string host;
  Status resolved = resolve(path, true, host);
  return resolved.isOk() ? target().listDirectory(host, names) : resolved;
}

Status RootedEnv::rename(const std::string& from, const std::string& to) {
  std::string hostFrom, hostTo;
  Status resolved = resolve(from, false, hostFrom);
  if (resolved.isOk()) resolved = resolve(to, false, hostTo);
  return resolved.isOk() ? target().rename(hostFrom, hostTo) : resolved;
}

Status RootedEnv::removeFile(const std::string& path) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().removeFile(host) : resolved;
}

Status RootedEnv::removeDirectory(const std::string& path) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().removeDirectory(host) : resolved;
}

Status RootedEnv::makeDirectory(const std::string& path, uint32_t mode) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().makeDirectory(host, mode) : resolved;
}

Status RootedEnv::makeSymlink(const std::string& linkTarget, const std::string& path) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().makeSymlink(linkTarget, host) : resolved;
}

Status RootedEnv::readSymlink(const std::string& path, std::string& linkTarget) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().readSymlink(host, linkTarget) : resolved;
}

Status RootedEnv::changeMode(const std::string& path, uint32_t mode) {
  std::string host;
  Status resolved = resolve(path, true, host);
  return resolved.isOk() ? target().changeMode(host, mode) : resolved;
}

Status RootedEnv::syncPath(const std::string& path) {
  std::string host;
  Status resolved = resolve(path, true, host);
  return resolved.isOk() ? target().syncPath(host) : resolved;
}

Status RootedEnv::changeRoot(const std::string& root) {
  std::string host;
  Status resolved = resolve(root, true, host);
  if (!resolved.isOk()) return resolved;
  FileStatus info;
  Status found = target().status(host, info);
  if (!found.isOk()) return found;
  if (info.type != FileType::Directory) return systemError(root, ENOTDIR);
  hostRoot = host;
  while (hostRoot.size() > 1 && hostRoot.back() == '/') hostRoot.pop_back();
  return Status::ok();
}

Status RootedEnv::changeDirectory(const std::string& path) {
  // Relative paths are always taken from the root: the installer only ever
  // changes to "/".
  FileStatus info;
  Status found = status(path, info);
  if (!found.isOk()) return found;
  return info.type == FileType::Directory ? Status::ok() : systemError(path, ENOTDIR);
}

ImageFileResult RootedEnv::findFileInImage(const std::string& packagePath, uint32_t imageOffset,
                                           const std::string& mountPoint, const std::string& fileInImage,
                                           Status& failure) {
  std::string hostPackage, hostMount, hostFile;
  if (!resolve(packagePath, true, hostPackage).isOk() || !resolve(mountPoint, true, hostMount).isOk() ||
      !resolve(fileInImage, false, hostFile).isOk()) {
    return ImageFileResult::Failed;  // a path that leads nowhere: no step of the look was tried
  }
  return target().findFileInImage(hostPackage, imageOffset, hostMount, hostFile, failure);
}

Status RootedEnv::lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) {
  std::string host;
  Status resolved = resolve(path, false, host);
  return resolved.isOk() ? target().lockFile(host, lock) : resolved;
}

const char* RootedEnv::variable(const char* name) {
  auto it = variables.find(name);
  return it == variables.end() ? nullptr : it->second.c_str();
}

}  // namespace installer
