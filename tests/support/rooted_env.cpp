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
  return onHost(path, limits.followLinks,
                [&](const std::string& host) { return target().openReadable(host, limits, file); });
}

Status RootedEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                               std::unique_ptr<WritableFile>& file) {
  return onHost(path, mode != WriteMode::CreateNew,
                [&](const std::string& host) { return target().openWritable(host, mode, permissions, file); });
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
  return onHost(path, true, [&](const std::string& host) { return target().status(host, out); });
}

Status RootedEnv::linkStatus(const std::string& path, FileStatus& out) {
  return onHost(path, false, [&](const std::string& host) { return target().linkStatus(host, out); });
}

Status RootedEnv::spaceStatus(const std::string& path, SpaceStatus& out) {
  return onHost(path, true, [&](const std::string& host) { return target().spaceStatus(host, out); });
}

Status RootedEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  return onHost(path, true, [&](const std::string& host) { return target().listDirectory(host, names); });
}

Status RootedEnv::rename(const std::string& from, const std::string& to) {
  std::string hostFrom, hostTo;
  Status resolved = resolve(from, false, hostFrom);
  if (resolved.isOk()) resolved = resolve(to, false, hostTo);
  return resolved.isOk() ? target().rename(hostFrom, hostTo) : resolved;
}

Status RootedEnv::removeFile(const std::string& path) {
  return onHost(path, false, [&](const std::string& host) { return target().removeFile(host); });
}

Status RootedEnv::removeDirectory(const std::string& path) {
  return onHost(path, false, [&](const std::string& host) { return target().removeDirectory(host); });
}

Status RootedEnv::makeDirectory(const std::string& path, uint32_t mode) {
  return onHost(path, false, [&](const std::string& host) { return target().makeDirectory(host, mode); });
}

Status RootedEnv::makeSymlink(const std::string& linkTarget, const std::string& path) {
  return onHost(path, false, [&](const std::string& host) { return target().makeSymlink(linkTarget, host); });
}

Status RootedEnv::readSymlink(const std::string& path, std::string& linkTarget) {
  return onHost(path, false, [&](const std::string& host) { return target().readSymlink(host, linkTarget); });
}

Status RootedEnv::changeMode(const std::string& path, uint32_t mode) {
  return onHost(path, true, [&](const std::string& host) { return target().changeMode(host, mode); });
}

Status RootedEnv::syncPath(const std::string& path) {
  return onHost(path, true, [&](const std::string& host) { return target().syncPath(host); });
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
  return onHost(path, false, [&](const std::string& host) { return target().lockFile(host, lock); });
}

const char* RootedEnv::variable(const char* name) {
  auto it = variables.find(name);
  return it == variables.end() ? nullptr : it->second.c_str();
}

}  // namespace installer
