#include "staging/disk_space.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include "platform/device_paths.h"

namespace {

constexpr int64_t reserveBytes = 32768;

// The device of the nearest existing directory at or above `path`'s
// parent; false when none can be found.
bool destinationDevice(const std::string& path, dev_t& device) {
  std::string directory = parentDirectory(path);
  struct stat info;
  while (stat(directory.c_str(), &info) != 0) {
    if (directory == "/" || directory == ".") return false;
    directory = parentDirectory(directory);
  }
  device = info.st_dev;
  return true;
}

// The bytes left on a disk; a disk the work makes fuller keeps a reserve.
int64_t freeBytesAfter(const DiskSpace& disk) {
  int64_t bytes = disk.freeBlocks * disk.blockSize;
  if (disk.freeBlocks < disk.freeBlocksAtStart) bytes -= reserveBytes;
  return bytes;
}

}  // namespace

DiskSpace readDiskSpace(const std::string& path) {
  DiskSpace disk;
  disk.path = path;
  struct statfs info;
  if (statfs(path.c_str(), &info) == 0 && info.f_bsize > 0) {
    disk.blockSize = static_cast<int64_t>(info.f_bsize);
    disk.freeBlocks = static_cast<int64_t>(info.f_bfree);
    disk.freeBlocksAtStart = disk.freeBlocks;
  }
  return disk;
}

bool isUnderPath(const DiskSpace& disk, const std::string& path) {
  return path.size() >= disk.path.size() && path.compare(0, disk.path.size(), disk.path) == 0;
}

int64_t blocksFor(const DiskSpace& disk, int64_t bytes) {
  if (bytes <= 0) return 0;
  return (bytes - 1 + disk.blockSize) / disk.blockSize;
}

bool creditExisting(DiskSpace& disk, const std::string& path) {
  if (!isUnderPath(disk, path)) return false;
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) disk.freeBlocks += blocksFor(disk, static_cast<int64_t>(info.st_size));
  return true;
}

bool chargeNew(DiskSpace& disk, const std::string& source, const std::string& path) {
  if (!isUnderPath(disk, path)) return false;
  struct stat info;
  if (stat(source.c_str(), &info) != 0) return true;
  dev_t device;
  // A source on the destination's file system is renamed into place: its
  // blocks are already missing from the free count.
  if (destinationDevice(path, device) && device == info.st_dev) return true;
  disk.freeBlocks -= blocksFor(disk, static_cast<int64_t>(info.st_size));
  return true;
}

bool checkDiskSpace(const StagedFiles& staged, int64_t& kernelFreeBytes, int64_t& mainFreeBytes) {
  DiskSpace kernel = readDiskSpace(paths::kernelDiskDir);
  DiskSpace mainDisk = readDiskSpace(paths::flashDir);
  for (const auto& entry : staged.entries) {
    const std::string& path = entry.first;
    if (!creditExisting(kernel, path)) creditExisting(mainDisk, path);
    StagedKind kind = entry.second.kind;
    if (kind != StagedKind::Move && kind != StagedKind::Write) continue;
    if (!chargeNew(kernel, entry.second.target, path)) chargeNew(mainDisk, entry.second.target, path);
  }
  kernelFreeBytes = freeBytesAfter(kernel);
  mainFreeBytes = freeBytesAfter(mainDisk);
  return kernelFreeBytes >= 0 && mainFreeBytes >= 0;
}

int64_t shortfallKilobytes(int64_t figure) { return (-figure) / 1024 + 1; }
