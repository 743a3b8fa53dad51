#include "staging/disk_space.h"

#include "platform/device_paths.h"

namespace installer {

namespace {

constexpr int64_t reserveBytes = 32768;

// The device of the nearest existing directory at or above `path`'s
// parent; false when none can be found.
bool destinationDevice(Env& env, const std::string& path, uint64_t& device) {
  return !nearestAncestor(path, [&env, &device](const std::string& directory) {
            FileStatus info;
            if (!env.status(directory, info)) return false;
            device = info.device;
            return true;
          }).empty();
}

// The bytes left on a disk; a disk the work makes fuller keeps a reserve.
int64_t freeBytesAfter(const DiskSpace& disk) {
  int64_t bytes = disk.freeBlocks * disk.blockSize;
  if (disk.freeBlocks < disk.freeBlocksAtStart) bytes -= reserveBytes;
  return bytes;
}

// Whether the two paths lie on one file system.
bool shareFileSystem(Env& env, const char* first, const char* second) {
  FileStatus a, b;
  return env.status(first, a) && env.status(second, b) && a.device == b.device;
}

}  // namespace

DiskSpace readDiskSpace(Env& env, const std::string& path) {
  DiskSpace disk;
  disk.path = path;
  SpaceStatus info;
  if (env.spaceStatus(path, info) && info.blockSize > 0) {
    disk.blockSize = static_cast<int64_t>(info.blockSize);
    disk.freeBlocks = static_cast<int64_t>(info.freeBlocks);
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

bool creditExisting(Env& env, DiskSpace& disk, const std::string& path) {
  if (!isUnderPath(disk, path)) return false;
  FileStatus info;
  if (env.linkStatus(path, info)) disk.freeBlocks += blocksFor(disk, static_cast<int64_t>(info.size));
  return true;
}

bool chargeNew(Env& env, DiskSpace& disk, const std::string& source, const std::string& path) {
  if (!isUnderPath(disk, path)) return false;
  FileStatus info;
  if (!env.status(source, info)) return true;
  uint64_t device = 0;
  // A source on the destination's file system is renamed into place: its
  // blocks are already missing from the free count.
  if (destinationDevice(env, path, device) && device == info.device) return true;
  disk.freeBlocks -= blocksFor(disk, static_cast<int64_t>(info.size));
  return true;
}

bool checkDiskSpace(const StagedFiles& staged, int64_t& kernelFreeBytes, int64_t& mainFreeBytes) {
  Env& env = staged.env();
  DiskSpace kernel = readDiskSpace(env, paths::kernelDiskDir);
  DiskSpace mainDisk = readDiskSpace(env, paths::flashDir);
  // A kernel disk that is only a directory of the main disk takes from the
  // same free blocks: then everything counts once, against the main disk.
  bool separateKernel = !shareFileSystem(env, paths::kernelDiskDir, paths::flashDir);
  for (const auto& entry : staged.entries) {
    const std::string& path = entry.first;
    DiskSpace* disk = separateKernel && isUnderPath(kernel, path) ? &kernel : &mainDisk;
    if (!creditExisting(env, *disk, path)) continue;  // outside "/flash/": not counted
    StagedKind kind = entry.second.kind;
    if (kind == StagedKind::Move || kind == StagedKind::Write) chargeNew(env, *disk, entry.second.target, path);
  }
  kernelFreeBytes = freeBytesAfter(kernel);
  mainFreeBytes = freeBytesAfter(mainDisk);
  return kernelFreeBytes >= 0 && mainFreeBytes >= 0;
}

int64_t shortfallKilobytes(int64_t figure) { return (-figure) / 1024 + 1; }

}  // namespace installer
