// Helpers for tests that mount squashfs images through real loop devices:
// whether this machine can, building an image with mksquashfs, and looking
// at what stays mounted or attached afterwards.
#pragma once

#include <string>
#include <vector>

// Held by every test that attaches a loop device: a free device number
// handed to two test processes at once would make one of them fail to attach.
class LoopTestLock {
 public:
  LoopTestLock();
  ~LoopTestLock();
  LoopTestLock(const LoopTestLock&) = delete;
  LoopTestLock& operator=(const LoopTestLock&) = delete;

 private:
  int descriptor;
};

// Empty when squashfs images can be built here and mounted through a loop
// device; otherwise why not, for GTEST_SKIP.
std::string loopMountSkipReason();

// The bytes of a squashfs image of `sourceDir`, built by mksquashfs. Empty
// when it could not be built.
std::string buildSquashfsImage(const std::string& sourceDir);

// Whether anything is mounted on `path` (a host path), per /proc/mounts.
bool isMountPoint(const std::string& path);

// The backing files of every attached loop device, from /sys/block.
std::vector<std::string> attachedLoopBackingFiles();

// Creates /dev/loop-control and a node for every loop device the kernel has
// below `root`, so that code chrooted there can reach the loop driver.
// False when a node could not be made.
bool makeLoopDeviceNodes(const std::string& root);
