#include "support/rooted_env.h"

#include <cerrno>
#include <vector>

#include "platform/path_walk.h"

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

bool RootedEnv::resolve(const std::string& path, bool followLast, std::string& hostPath) {
  bool trailingSlash = endsWithSlash(path);
  followLast = followLast || trailingSlash;
  auto look = [&](const std::vector<std::string>& done, bool last, std::string& link) {
    if (last && !followLast) return WalkStep::Stop;
    FileStatus info;
    if (!target().linkStatus(joined(hostRoot, done), info) || info.type != FileType::Symlink) return WalkStep::Next;
    return target().readSymlink(joined(hostRoot, done), link) ? WalkStep::FollowLink : WalkStep::Fail;
  };
  std::vector<std::string> done;
  if (!walkPath(path, look, done)) return false;
  hostPath = done.empty() ? hostRoot : joined(hostRoot, done);
  if (trailingSlash) hostPath += "/";
  return true;
}

std::unique_ptr<ReadableFile> RootedEnv::openReadable(const std::string& path, const ReadLimits& limits) {
  std::string host;
  return resolve(path, limits.followLinks, host) ? target().openReadable(host, limits) : nullptr;
}

std::unique_ptr<WritableFile> RootedEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions) {
  std::string host;
  return resolve(path, mode != WriteMode::CreateNew, host) ? target().openWritable(host, mode, permissions) : nullptr;
}

std::unique_ptr<WritableFile> RootedEnv::createTemporary(const std::string& prefix, std::string& name) {
  size_t slash = prefix.rfind('/');
  std::string directory = slash == std::string::npos ? "/" : prefix.substr(0, slash + 1);
  std::string hostDirectory;
  if (!resolve(directory, true, hostDirectory)) return nullptr;
  if (hostDirectory.back() != '/') hostDirectory += "/";
  std::string hostPrefix = hostDirectory + prefix.substr(slash == std::string::npos ? 0 : slash + 1);
  std::string hostName;
  std::unique_ptr<WritableFile> file = target().createTemporary(hostPrefix, hostName);
  if (file) name = prefix + hostName.substr(hostPrefix.size());
  return file;
}

bool RootedEnv::status(const std::string& path, FileStatus& out) {
  std::string host;
  return resolve(path, true, host) && target().status(host, out);
}

bool RootedEnv::linkStatus(const std::string& path, FileStatus& out) {
  std::string host;
  return resolve(path, false, host) && target().linkStatus(host, out);
}

bool RootedEnv::spaceStatus(const std::string& path, SpaceStatus& out) {
  std::string host;
  return resolve(path, true, host) && target().spaceStatus(host, out);
}

bool RootedEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::string host;
  return resolve(path, true, host) && target().listDirectory(host, names);
}

bool RootedEnv::rename(const std::string& from, const std::string& to) {
  std::string hostFrom, hostTo;
  return resolve(from, false, hostFrom) && resolve(to, false, hostTo) && target().rename(hostFrom, hostTo);
}

bool RootedEnv::removeFile(const std::string& path) {
  std::string host;
  return resolve(path, false, host) && target().removeFile(host);
}

bool RootedEnv::removeDirectory(const std::string& path) {
  std::string host;
  return resolve(path, false, host) && target().removeDirectory(host);
}

bool RootedEnv::makeDirectory(const std::string& path, uint32_t mode) {
  std::string host;
  return resolve(path, false, host) && target().makeDirectory(host, mode);
}

bool RootedEnv::makeSymlink(const std::string& linkTarget, const std::string& path) {
  std::string host;
  return resolve(path, false, host) && target().makeSymlink(linkTarget, host);
}

bool RootedEnv::readSymlink(const std::string& path, std::string& linkTarget) {
  std::string host;
  return resolve(path, false, host) && target().readSymlink(host, linkTarget);
}

bool RootedEnv::changeMode(const std::string& path, uint32_t mode) {
  std::string host;
  return resolve(path, true, host) && target().changeMode(host, mode);
}

bool RootedEnv::syncPath(const std::string& path) {
  std::string host;
  return resolve(path, true, host) && target().syncPath(host);
}

bool RootedEnv::changeRoot(const std::string& root) {
  std::string host;
  if (!resolve(root, true, host)) return false;
  FileStatus info;
  if (!target().status(host, info)) return false;
  if (info.type != FileType::Directory) {
    errno = ENOTDIR;
    return false;
  }
  hostRoot = host;
  while (hostRoot.size() > 1 && hostRoot.back() == '/') hostRoot.pop_back();
  return true;
}

bool RootedEnv::changeDirectory(const std::string& path) {
  // Relative paths are always taken from the root: the installer only ever
  // changes to "/".
  FileStatus info;
  if (!status(path, info)) return false;
  if (info.type == FileType::Directory) return true;
  errno = ENOTDIR;
  return false;
}

ImageFileResult RootedEnv::findFileInImage(const std::string& packagePath, uint32_t imageOffset,
                                           const std::string& mountPoint, const std::string& fileInImage) {
  std::string hostPackage, hostMount, hostFile;
  if (!resolve(packagePath, true, hostPackage) || !resolve(mountPoint, true, hostMount) ||
      !resolve(fileInImage, false, hostFile)) {
    return ImageFileResult::Failed;
  }
  return target().findFileInImage(hostPackage, imageOffset, hostMount, hostFile);
}

std::unique_ptr<FileLock> RootedEnv::lockFile(const std::string& path) {
  std::string host;
  return resolve(path, false, host) ? target().lockFile(host) : nullptr;
}

const char* RootedEnv::variable(const char* name) {
  auto it = variables.find(name);
  return it == variables.end() ? nullptr : it->second.c_str();
}

}  // namespace installer
