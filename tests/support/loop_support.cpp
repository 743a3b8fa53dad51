#include "support/loop_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/process_runner.h"

namespace {

const char* const mksquashfsCandidates[] = {"/usr/bin/mksquashfs", "/usr/sbin/mksquashfs", "/sbin/mksquashfs",
                                            "/bin/mksquashfs"};

std::string mksquashfsPath() {
  for (const char* candidate : mksquashfsCandidates) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return std::string();
}

std::string readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

bool kernelKnowsSquashfs() {
  std::ifstream filesystems("/proc/filesystems");
  std::string line;
  while (std::getline(filesystems, line)) {
    if (line.size() >= 8 && line.compare(line.size() - 8, 8, "squashfs") == 0) return true;
  }
  // Not loaded yet: a module may still bring it in on the first mount.
  return access("/sys/module/squashfs", F_OK) == 0 || system("modprobe -q squashfs 2>/dev/null") == 0;
}

std::vector<std::string> loopDeviceNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/sys/block")) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.compare(0, 4, "loop") == 0) names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

bool makeNode(const std::string& path, mode_t type, const std::string& sysDevFile) {
  unsigned major = 0, minor = 0;
  std::string numbers = readWhole(sysDevFile);
  if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2) return false;
  unlink(path.c_str());
  return mknod(path.c_str(), type | 0660, makedev(major, minor)) == 0;
}

}  // namespace

LoopTestLock::LoopTestLock() : descriptor(open("/tmp/installer-loop-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  if (descriptor >= 0) flock(descriptor, LOCK_EX);
}

LoopTestLock::~LoopTestLock() {
  if (descriptor >= 0) close(descriptor);
}

std::string loopMountSkipReason() {
  if (geteuid() != 0) return "needs root to attach loop devices and mount";
  if (access("/dev/loop-control", R_OK) != 0) return "no /dev/loop-control on this machine";
  if (mksquashfsPath().empty()) return "mksquashfs is not installed (Debian package squashfs-tools)";
  if (!kernelKnowsSquashfs()) return "the kernel cannot mount squashfs";
  return std::string();
}

std::string buildSquashfsImage(const std::string& sourceDir) {
  char name[] = "/tmp/squashfs-image-XXXXXX";
  int descriptor = mkstemp(name);
  if (descriptor < 0) return std::string();
  close(descriptor);
  ProcessResult result = runProcess(mksquashfsPath(), {sourceDir, name, "-noappend", "-quiet", "-no-progress",
                                                       "-all-root", "-no-xattrs"});
  std::string image = result.exitStatus == 0 ? readWhole(name) : std::string();
  unlink(name);
  return image;
}

bool isMountPoint(const std::string& path) {
  std::ifstream mounts("/proc/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, target;
    fields >> device >> target;
    if (target == path) return true;
  }
  return false;
}

std::vector<std::string> attachedLoopBackingFiles() {
  std::vector<std::string> files;
  for (const std::string& name : loopDeviceNames()) {
    std::string backing = "/sys/block/" + name + "/loop/backing_file";
    if (access(backing.c_str(), F_OK) != 0) continue;
    std::string file = readWhole(backing);
    while (!file.empty() && file.back() == '\n') file.pop_back();
    files.push_back(file);
  }
  return files;
}

bool makeLoopDeviceNodes(const std::string& root) {
  mkdir((root + "/dev").c_str(), 0755);
  if (!makeNode(root + "/dev/loop-control", S_IFCHR, "/sys/class/misc/loop-control/dev")) return false;
  for (const std::string& name : loopDeviceNames()) {
    if (!makeNode(root + "/dev/" + name, S_IFBLK, "/sys/block/" + name + "/dev")) return false;
  }
  return true;
}
