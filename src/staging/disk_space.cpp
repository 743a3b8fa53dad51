#include "staging/disk_space.h"

#include <algorithm>
#include <cinttypes>

#include "model/messages.h"
#include "platform/device_paths.h"

namespace installer {

namespace {

constexpr int64_t reserveBytes = 32768;

// The bytes left on a disk; a disk the work makes fuller keeps a reserve.
int64_t freeBytesAfter(const DiskSpace& disk) {
  int64_t bytes = disk.freeBlocks * disk.blockSize;
  if (disk.freeBlocks < disk.freeBlocksAtStart) bytes -= reserveBytes;
  return bytes;
}

// Whether the two paths lie on one file system.
bool shareFileSystem(Env& env, const char* first, const char* second) {
  FileStatus a, b;
  return env.status(first, a).isOk() && env.status(second, b).isOk() && a.device == b.device;
}

}  // namespace

DiskSpace readDiskSpace(Env& env, const std::string& path) {
  DiskSpace disk;
  disk.path = path;
  SpaceStatus info;
  if (env.spaceStatus(path, info).isOk() && info.blockSize > 0) {
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
  if (env.linkStatus(path, info).isOk()) disk.freeBlocks += blocksFor(disk, static_cast<int64_t>(info.size));
  return true;
}

bool chargeNew(Env& env, DiskSpace& disk, const std::string& source, const std::string& path) {
  if (!isUnderPath(disk, path)) return false;
  FileStatus info;
  if (!env.status(source, info).isOk()) return true;
  uint64_t device = 0;
  // A source on the destination's file system is renamed into place: its
  // blocks are already missing from the free count.
  if (destinationDevice(env, path, device) && device == info.device) return true;
  disk.freeBlocks -= blocksFor(disk, static_cast<int64_t>(info.size));
  return true;
}

namespace {

// The two disks, with the work of the set counted.
struct Disks {
  DiskSpace kernel;
  DiskSpace main;
  bool separateKernel = true;
  DiskSpace* of(const std::string& path) {
    if (separateKernel && isUnderPath(kernel, path)) return &kernel;
    return isUnderPath(main, path) ? &main : nullptr;
  }
};

Disks countWork(const StagedFiles& staged) {
  Env& env = staged.env();
  Disks disks{readDiskSpace(env, paths::kernelDiskDir), readDiskSpace(env, paths::flashDir)};
  // A kernel disk that is only a directory of the main disk takes from the
  // same free blocks: then everything counts once, against the main disk.
  disks.separateKernel = !shareFileSystem(env, paths::kernelDiskDir, paths::flashDir);
  for (const auto& entry : staged.entries) {
    const std::string& path = entry.first;
    DiskSpace* disk = disks.separateKernel && isUnderPath(disks.kernel, path) ? &disks.kernel : &disks.main;
    if (!creditExisting(env, *disk, path)) continue;  // outside "/flash/": not counted
    StagedKind kind = entry.second.kind;
    if (kind == StagedKind::Move || kind == StagedKind::Write) chargeNew(env, *disk, entry.second.target, path);
  }
  // The registry goes at the end of the work; it is the installer's, not the work's.
  static_cast<void>(creditExisting(env, disks.main, paths::temporaryRegistry));
  return disks;
}

int64_t fileBlocks(Env& env, const DiskSpace& disk, const char* path) {
  FileStatus info;
  return env.linkStatus(path, info).isOk() ? blocksFor(disk, static_cast<int64_t>(info.size)) : 0;
}

// Free inodes of the disk holding `path`, or -1 without a limit.
int64_t freeInodes(Env& env, const std::string& path) {
  SpaceStatus info;
  if (!env.spaceStatus(path, info).isOk() || info.totalInodes == 0) return -1;
  return static_cast<int64_t>(info.freeInodes);
}

struct Needs {
  int64_t startBlocks = 0;  // before anything is freed
  int64_t endBlocks = 0;    // beside the work, at the end
  int64_t startInodes = 0;
  int64_t netInodes = 0;
};

int64_t roomLeft(Env& env, const DiskSpace& disk, const Needs& needs, int64_t& inodes) {
  int64_t start = (disk.freeBlocksAtStart - needs.startBlocks) * disk.blockSize;
  int64_t end = (disk.freeBlocks - needs.endBlocks) * disk.blockSize;
  int64_t limit = freeInodes(env, disk.path);
  inodes = limit < 0 ? 0 : limit - std::max(needs.startInodes, needs.netInodes);
  return std::min(start, end);
}

}  // namespace

bool checkDiskSpace(const StagedFiles& staged, int64_t& kernelFreeBytes, int64_t& mainFreeBytes) {
  Disks disks = countWork(staged);
  kernelFreeBytes = freeBytesAfter(disks.kernel);
  mainFreeBytes = freeBytesAfter(disks.main);
  return kernelFreeBytes >= 0 && mainFreeBytes >= 0;
}

CommitRoom commitRoom(const StagedFiles& staged, const CommitPlan& plan, const PlanEffects& effects,
                      uint64_t journalBytes) {
  Env& env = staged.env();
  Disks disks = countWork(staged);
  Needs kernelNeeds, mainNeeds;
  auto needsOf = [&](const std::string& path) -> Needs* {
    DiskSpace* disk = disks.of(path);
    return disk == nullptr ? nullptr : disk == &disks.kernel ? &kernelNeeds : &mainNeeds;
  };
  for (const CommitStep& step : plan.steps) {
    Needs* needs = step.copyFirst ? needsOf(step.path) : nullptr;
    if (needs == nullptr) continue;
    needs->startBlocks += blocksFor(*disks.of(step.path), static_cast<int64_t>(step.size));
    ++needs->startInodes;
  }
  for (const std::string& path : effects.created) {
    if (Needs* needs = needsOf(path)) ++needs->netInodes;
  }
  for (const std::string& path : effects.freed) {
    if (Needs* needs = needsOf(path)) --needs->netInodes;
  }
  int64_t journal = blocksFor(disks.main, static_cast<int64_t>(journalBytes));
  mainNeeds.startBlocks += journal;
  mainNeeds.endBlocks += journal + fileBlocks(env, disks.main, paths::temporaryRegistry);
  ++mainNeeds.startInodes;
  ++mainNeeds.netInodes;
  CommitRoom room;
  room.mainBytes = roomLeft(env, disks.main, mainNeeds, room.mainInodes);
  if (disks.separateKernel) room.kernelBytes = roomLeft(env, disks.kernel, kernelNeeds, room.kernelInodes);
  return room;
}

void reportShortfall(InstallerState& state, int64_t kernelBytes, int64_t mainBytes, int64_t kernelInodes,
                     int64_t mainInodes) {
  if (kernelBytes < 0) {
    error(state, "upgrade failed, free %" PRId64 " kB of kernel disk space", shortfallKilobytes(kernelBytes));
  }
  if (mainBytes < 0) error(state, "upgrade failed, free %" PRId64 " kB of disk space", shortfallKilobytes(mainBytes));
  if (kernelInodes < 0) error(state, "upgrade failed, free %" PRId64 " inodes of kernel disk space", -kernelInodes);
  if (mainInodes < 0) error(state, "upgrade failed, free %" PRId64 " inodes of disk space", -mainInodes);
}

int64_t shortfallKilobytes(int64_t figure) { return (-figure) / 1024 + 1; }

}  // namespace installer
