// The Linux loop driver behind findFileInImage. This is the only file that
// knows the loop-device requests and the mount call.
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/device_paths.h"
#include "platform/loop_mount.h"
#include "platform/system_error.h"

namespace installer {

namespace {

// The image has not been verified yet, so nothing on it may run or act as a
// device node or gain privileges.
constexpr unsigned long imageMountFlags = MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC;

// The number of a free loop device, or -1 (`failure` says why).
int freeLoopNumber(Status& failure) {
  int control = open(paths::loopControl, O_RDONLY | O_CLOEXEC);
  if (control < 0) {
    failure = systemError("loop-control");
    return -1;
  }
  int number = ioctl(control, LOOP_CTL_GET_FREE, 0);
  if (number < 0) failure = systemError("GET_FREE");
  close(control);
  return number < 0 ? -1 : number;
}

// Errors are ignored: a missing directory shows up as a failed mount.
void makeMountPoint(const std::string& mountPoint) {
  size_t slash = mountPoint.rfind('/');
  if (slash != std::string::npos && slash > 0) mkdir(mountPoint.substr(0, slash).c_str(), 0755);
  mkdir(mountPoint.c_str(), 0755);
}

// Points the loop device at the image inside the package file, read-only.
bool attachImage(int loop, int package, const std::string& packagePath, uint32_t imageOffset, Status& failure) {
  if (ioctl(loop, LOOP_SET_FD, package) != 0) {
    failure = systemError("SET_FD");
    return false;
  }
  // The short form of the status record carries the offset as an int; a
  // larger offset would reach the driver as a wrong (negative) one.
  if (imageOffset > static_cast<uint32_t>(INT_MAX)) {
    failure = systemError("SET_OFFSET", EOVERFLOW);
    return false;
  }
  struct loop_info status;
  std::memset(&status, 0, sizeof status);
  status.lo_offset = static_cast<int>(imageOffset);
  status.lo_flags = LO_FLAGS_READ_ONLY;
  // The name is informational; a long path is cut, without terminator.
  std::memcpy(status.lo_name, packagePath.c_str(), std::min<size_t>(packagePath.size(), LO_NAME_SIZE));
  if (ioctl(loop, LOOP_SET_STATUS, &status) != 0) {
    failure = systemError("SET_OFFSET");
    return false;
  }
  return true;
}

bool holdsFile(const std::string& fileInImage) {
  struct stat info;
  return lstat(fileInImage.c_str(), &info) == 0 && !S_ISLNK(info.st_mode);
}

// Something still using the mount (it cannot be, as nothing here keeps a file
// open there) must not leave it behind: detach it lazily then.
void unmount(const std::string& mountPoint) {
  if (umount(mountPoint.c_str()) != 0) umount2(mountPoint.c_str(), MNT_DETACH);
}

ImageFileResult lookThroughDevice(const char* device, int loop, const std::string& packagePath, uint32_t imageOffset,
                                  const std::string& mountPoint, const std::string& fileInImage, Status& failure) {
  makeMountPoint(mountPoint);
  int package = open(packagePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (package < 0) {
    failure = systemError("open");
    return ImageFileResult::Failed;
  }
  ImageFileResult result = ImageFileResult::Failed;
  if (attachImage(loop, package, packagePath, imageOffset, failure)) {
    if (mount(device, mountPoint.c_str(), "squashfs", imageMountFlags, nullptr) != 0) {
      failure = systemError("mount squash");
    } else {
      result = holdsFile(fileInImage) ? ImageFileResult::Present : ImageFileResult::Absent;
      unmount(mountPoint);
    }
  }
  close(package);
  return result;
}

}  // namespace

ImageFileResult lookIntoImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                              const std::string& fileInImage, Status& failure) {
  int number = freeLoopNumber(failure);
  if (number < 0) return ImageFileResult::Failed;
  char device[40];
  std::snprintf(device, sizeof device, paths::loopDeviceFormat, number);
  int loop = open(device, O_RDONLY | O_CLOEXEC);
  if (loop < 0) {
    failure = systemError("dev open");
    return ImageFileResult::Failed;
  }
  ImageFileResult result = lookThroughDevice(device, loop, packagePath, imageOffset, mountPoint, fileInImage, failure);
  // Issued whether or not the attach worked: a half-configured device must
  // not stay attached. Its result says nothing useful here.
  ioctl(loop, LOOP_CLR_FD, 0);
  close(loop);
  return result;
}

}  // namespace installer
