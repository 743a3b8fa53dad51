// Disk space accounting on simulated disks: "/flash" with 100 free blocks
// and "/flash/boot" with 10, of 4 KiB each; "/ram" lies on a third file
// system.
#include "staging/disk_space.h"

#include <gtest/gtest.h>

#include "support/simulated_device.h"
#include "support/staging_env.h"

namespace installer {
namespace {

constexpr int64_t B = 4096, R = 32768, Main = 100 * B, Kernel = 10 * B;

// One staged set each: whether it fits, and the bytes left on the kernel
// and the main disk. Whatever stands at a staged path is credited (a link
// by its own size), what comes from another file system is charged, in
// whole blocks; a disk the work makes fuller keeps the reserve R back.
// Without "/flash/boot" the kernel disk has block size 1 and no room; when
// it is only a directory of "/flash" (bootDisk 2), everything counts once,
// against the main disk.
TEST(CheckDiskSpace, Table) {
  // clang-format off
  struct Case { int bootDisk; const char *files, *entries; bool fits; int64_t kernel, main; } cases[] = {
      {true, "/ram/t:4097", "W /flash/new /ram/t", true, Kernel, Main - 2 * B - R},
      {true, "/flash/f:10000 /ram/t:12288 /flash/g:10000 /ram/u:12289", "W /flash/f /ram/t|M /flash/g /ram/u", true, Kernel, Main - B - R},
      {true, "/ram/t:401408", "W /flash/new /ram/t", false, Kernel, 2 * B - R},
      {true, "/flash/old:8192 /flash/f:1 /flash/l>/ram/t /ram/t:50000", "U /flash/old|L /flash/f x|U /flash/l|U /flash/gone", true, Kernel, Main + 4 * B},
      {true, "/flash/boot/kernel:8192 /ram/t:5000 /flash/t:4097 /ram/m:376832",  // exactly nothing left fits
       "U /flash/boot/kernel|W /flash/boot/new/file /ram/t|M /flash/boot/x /flash/t|W /flash/m /ram/m", true, 0, 0},
      {true, "/ram/t:50000 /ram/old:50000", "M /ram/new /ram/t|U /ram/old|M /flash /ram/t", true, Kernel, Main},  // not below "/flash/"
      {true, "/flash/t1:9000 /flash/t2:9000 /ram/e:0",  // renamed in place, missing or empty: nothing to charge
       "W /flash/new /flash/t1|M /flash/not/yet/made /flash/t2|M /flash/x /ram/none|W /flash/e /ram/e", true, Kernel, Main},
      {false, "/ram/t:3", "W /flash/boot/kernel /ram/t", false, -3 - R, Main},
      {2, "/ram/t:245760 /ram/u:245760", "W /flash/boot/kernel /ram/t|W /flash/new /ram/u", false, Main, -20 * B - R}};
  // clang-format on
  for (const Case& c : cases) {
    std::vector<SimulatedDevice::Mount> mounts = {{"/"}, {"/flash", B}, {"/ram"}};
    if (c.bootDisk == 1) mounts.push_back({"/flash/boot", B});
    SimulatedDevice env(mounts);
    ASSERT_TRUE(!c.bootDisk || env.addDirectories("/flash/boot"));
    ASSERT_TRUE(plant(env, c.files));
    env.leaveFree("/flash", 100);
    env.leaveFree("/flash/boot", 10);
    StagedFiles staged(env);
    stageText(staged, c.entries);
    int64_t kernel = 0, main = 0;
    EXPECT_EQ(checkDiskSpace(staged, kernel, main), c.fits) << c.entries;
    EXPECT_EQ(std::pair(kernel, main), std::pair(c.kernel, c.main)) << c.entries;
  }
}

// The commit's own needs: its journal takes an inode and blocks before
// anything is freed; a file system with no inode free cannot take it. One
// with no inode limit is never short of them.
TEST(CommitRoom, JournalNeedsAnInodeAndItsBlocks) {
  for (uint64_t inodes : {0, 4, 5}) {
    SimulatedDevice device({{"/", 4096, 100, inodes, false}});
    ASSERT_TRUE(device.addDirectories("/flash/var/pdb"));  // with "/", 4 inodes
    StagedFiles staged(device);
    CommitPlan plan;
    CommitRoom room = commitRoom(staged, plan, PlanEffects(), 4097);
    EXPECT_EQ(room.mainInodes, inodes == 4 ? -1 : 0) << inodes;
    EXPECT_EQ(room.mainBytes, (100 - 4 - 2) * 4096) << inodes;  // the directories, then the journal's 2 blocks
    EXPECT_EQ(room.fits(), inodes != 4);
  }
}

}  // namespace
}  // namespace installer
