// Disk space accounting: whether a staged file set fits on the flash.
//
// (When "/flash/boot/" lies on the file system of "/flash/", it is counted
// once, with the main disk.)
//
// Before an upgrade run commits, its staged work is weighed against two file
// systems, the kernel disk ("/flash/boot/") and the main disk ("/flash/"):
// each path under "/flash/boot/" counts against the kernel disk only, any
// other path under "/flash/" against the main disk, and nothing else counts.
// Whatever stands at a staged path is credited back; what a Move or Write
// brings in from another file system is charged. Files are counted in whole
// blocks. Nothing is opened or changed, and failing stat calls simply count
// nothing. All figures are 64-bit, so large disks do not overflow.
#pragma once

#include <cstdint>
#include <string>

#include "model/installer_state.h"
#include "staging/commit_preflight.h"
#include "staging/staged_files.h"

namespace installer {

struct DiskSpace {
  std::string path;               // "/flash/boot/" or "/flash/"
  int64_t blockSize = 1;          // 1 when statfs failed
  int64_t freeBlocks = 0;         // changed by the accounting
  int64_t freeBlocksAtStart = 0;  // as first read
};

// What statfs says about `path`; block size 1 and no free blocks when it
// cannot be read.
DiskSpace readDiskSpace(Env& env, const std::string& path);

// The path begins with the disk's path ("/flash/" is under "/flash/",
// "/flash" is not).
bool isUnderPath(const DiskSpace& disk, const std::string& path);

// Whole blocks taken by a file of `bytes` bytes (0 for an empty file).
int64_t blocksFor(const DiskSpace& disk, int64_t bytes);

// For the file a staged entry replaces or removes: credits its blocks (a
// link is measured itself). True when the path belongs to this disk, even
// when nothing stands there.
bool creditExisting(Env& env, DiskSpace& disk, const std::string& path);

// For the file a Move or Write brings to `path` from `source`: charges its
// blocks unless the source already lies on the destination's file system.
// True when the path belongs to this disk.
bool chargeNew(Env& env, DiskSpace& disk, const std::string& source, const std::string& path);

// Bytes left on each disk once the work is done, less a 32 KiB reserve on a
// disk whose free space the work reduces. True when both are 0 or more. The
// installer's own registry of temporary files counts as gone, as it is by
// the end of the work, so that the figures are those of the work alone.
[[nodiscard]] bool checkDiskSpace(const StagedFiles& staged, int64_t& kernelFreeBytes, int64_t& mainFreeBytes);

// What the commit itself needs beyond the work's figures, on each disk: the
// bytes and inodes left at its tightest moment (negative: short by so
// much). Before anything is freed, the files copied beside their
// destinations and the journal must fit; by the end, the work, the journal
// and the registry. Inodes count only where the file system has a limit.
struct CommitRoom {
  int64_t kernelBytes = 0;
  int64_t mainBytes = 0;
  int64_t kernelInodes = 0;
  int64_t mainInodes = 0;
  bool fits() const { return kernelBytes >= 0 && mainBytes >= 0 && kernelInodes >= 0 && mainInodes >= 0; }
};
CommitRoom commitRoom(const StagedFiles& staged, const CommitPlan& plan, const PlanEffects& effects,
                      uint64_t journalBytes);

// Reports the shortfall of each disk: "upgrade failed, free N kB of kernel
// disk space" and "upgrade failed, free N kB of disk space" for the bytes,
// "... N inodes ..." for inodes.
void reportShortfall(InstallerState& state, int64_t kernelBytes, int64_t mainBytes, int64_t kernelInodes = 0,
                     int64_t mainInodes = 0);

// The kilobytes to free for a negative figure of checkDiskSpace: the whole
// kilobytes of the shortfall plus one (1 byte short: 1; 1024 bytes: 2).
int64_t shortfallKilobytes(int64_t figure);

}  // namespace installer
