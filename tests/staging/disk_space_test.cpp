// Disk space accounting against small tmpfs disks of known size: "/flash"
// and "/flash/boot" are separate tmpfs mounts in the test root, "/ram" lies
// on the test root's own file system.
#include "staging/disk_space.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <memory>

#include "support/chroot_runner.h"
#include "support/scratch_mount.h"
#include "support/temp_root.h"

namespace {

// f_bfree * f_bsize, as the test sees it.
int64_t freeBytesOf(const char* path) {
  struct statfs info;
  if (statfs(path, &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bfree) * static_cast<int64_t>(info.f_bsize);
}

int64_t blockSizeOf(const char* path) {
  struct statfs info;
  if (statfs(path, &info) != 0) return -1;
  return static_cast<int64_t>(info.f_bsize);
}

struct Figures {
  bool fits = false;
  int64_t kernel = 0;
  int64_t main = 0;
};

Figures check(const StagedFiles& staged) {
  Figures figures;
  figures.fits = checkDiskSpace(staged, figures.kernel, figures.main);
  return figures;
}

class DiskSpaceTest : public testing::Test {
 protected:
  TempRoot root;
  std::unique_ptr<ScratchMount> flash;
  std::unique_ptr<ScratchMount> boot;

  // "/flash" of `flashBytes`, and "/flash/boot" of 256 KiB unless told not
  // to make it.
  void mountDisks(unsigned long flashBytes, bool withBoot = true) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs and chroot";
    root.makeDirs("/ram");
    flash = std::make_unique<ScratchMount>(root.at("/flash"), flashBytes);
    SKIP_UNLESS_MOUNTED(*flash);
    if (!withBoot) return;
    boot = std::make_unique<ScratchMount>(root.at("/flash/boot"), 256u << 10);
    SKIP_UNLESS_MOUNTED(*boot);
  }
  void TearDown() override {
    boot.reset();
    flash.reset();
  }
};

TEST_F(DiskSpaceTest, EmptySetReportsFreeSpaceWithoutReserve) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  runInChroot(root.path(), [] {
    Figures figures = check(StagedFiles());
    EXPECT_TRUE(figures.fits);
    EXPECT_EQ(figures.kernel, freeBytesOf("/flash/boot/"));
    EXPECT_EQ(figures.main, freeBytesOf("/flash/"));
    EXPECT_EQ(figures.kernel, 256 << 10);
    EXPECT_EQ(figures.main, 1 << 20);
  });
}

TEST_F(DiskSpaceTest, ReplacementOfEqualBlocksChangesNothing) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  root.writeFile("/flash/bin/tool", std::string(10000, 'o'));
  root.writeFile("/ram/tmpAAAAAA", std::string(10000, 'n'));
  runInChroot(root.path(), [] {
    ASSERT_EQ(blockSizeOf("/flash/"), 4096);
    StagedFiles staged;
    stageRecord(staged, "/flash/bin/tool", StagedKind::Write, "/ram/tmpAAAAAA");
    Figures figures = check(staged);
    EXPECT_TRUE(figures.fits);
    EXPECT_EQ(figures.main, freeBytesOf("/flash/"));
    EXPECT_EQ(figures.kernel, freeBytesOf("/flash/boot/"));
  });
}

TEST_F(DiskSpaceTest, OneMoreBlockTakesTheReserve) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  root.writeFile("/flash/bin/tool", std::string(10000, 'o'));
  root.writeFile("/ram/tmpAAAAAA", std::string(12289, 'n'));
  runInChroot(root.path(), [] {
    StagedFiles staged;
    stageRecord(staged, "/flash/bin/tool", StagedKind::Write, "/ram/tmpAAAAAA");
    Figures figures = check(staged);
    EXPECT_TRUE(figures.fits);
    EXPECT_EQ(figures.main, freeBytesOf("/flash/") - 4096 - 32768);
  });
}

TEST_F(DiskSpaceTest, OneByteOnEightFreeBlocksDoesNotFit) {
  mountDisks(32768);
  if (IsSkipped()) return;
  root.writeFile("/ram/tmpAAAAAA", "x");
  runInChroot(root.path(), [] {
    ASSERT_EQ(freeBytesOf("/flash/"), 8 * 4096);
    StagedFiles staged;
    stageRecord(staged, "/flash/new", StagedKind::Write, "/ram/tmpAAAAAA");
    Figures figures = check(staged);
    EXPECT_FALSE(figures.fits);
    EXPECT_EQ(figures.main, 7 * 4096 - 32768);
    EXPECT_EQ(shortfallKilobytes(figures.main), 5);
  });
}

TEST_F(DiskSpaceTest, PathsOutsideFlashCountNowhere) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  root.writeFile("/ram/big", std::string(50000, 'b'));
  root.writeFile("/ram/old", std::string(50000, 'o'));
  runInChroot(root.path(), [] {
    StagedFiles staged;
    stageRecord(staged, "/ram/new", StagedKind::Move, "/ram/big");
    stageRecord(staged, "/ram/old", StagedKind::Delete, "");
    stageRecord(staged, "/flash", StagedKind::Move, "/ram/big");  // not under "/flash/"
    Figures figures = check(staged);
    EXPECT_TRUE(figures.fits);
    EXPECT_EQ(figures.main, freeBytesOf("/flash/"));
    EXPECT_EQ(figures.kernel, freeBytesOf("/flash/boot/"));
  });
}

TEST_F(DiskSpaceTest, KernelPathsNeverCountAgainstMainDisk) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  root.writeFile("/flash/boot/kernel", std::string(8192, 'k'));
  root.writeFile("/ram/tmpAAAAAA", std::string(5000, 'n'));
  runInChroot(root.path(), [] {
    int64_t kernelStart = freeBytesOf("/flash/boot/");
    StagedFiles removal;
    stageRecord(removal, "/flash/boot/kernel", StagedKind::Delete, "");
    Figures freed = check(removal);
    EXPECT_EQ(freed.kernel, kernelStart + 2 * 4096);
    EXPECT_EQ(freed.main, freeBytesOf("/flash/"));

    StagedFiles addition;
    stageRecord(addition, "/flash/boot/missing/file", StagedKind::Write, "/ram/tmpAAAAAA");
    Figures used = check(addition);
    EXPECT_EQ(used.kernel, kernelStart - 2 * 4096 - 32768);
    EXPECT_EQ(used.main, freeBytesOf("/flash/"));
  });
}

TEST_F(DiskSpaceTest, TemporaryFileOnDestinationDiskIsNotCharged) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  root.writeFile("/flash/tmpAAAAAA", std::string(9000, 'n'));
  root.writeFile("/flash/tmpBBBBBB", std::string(9000, 'n'));
  runInChroot(root.path(), [] {
    StagedFiles staged;
    stageRecord(staged, "/flash/new", StagedKind::Write, "/flash/tmpAAAAAA");
    stageRecord(staged, "/flash/not/yet/made/file", StagedKind::Move, "/flash/tmpBBBBBB");
    Figures figures = check(staged);
    EXPECT_TRUE(figures.fits);
    EXPECT_EQ(figures.main, freeBytesOf("/flash/"));
  });
}

TEST_F(DiskSpaceTest, LinksCreditWhatTheyReplaceAndDirectoriesTheirOwnSize) {
  mountDisks(1u << 20);
  if (IsSkipped()) return;
  root.writeFile("/flash/lib/libx.so", std::string(5000, 'l'));
  root.writeFile("/flash/var/pdb/pkg/image", std::string(20000, 'i'));
  runInChroot(root.path(), [] {
    struct stat directory;
    ASSERT_EQ(lstat("/flash/var/pdb/pkg/", &directory), 0);
    int64_t directoryBlocks = (directory.st_size + 4095) / 4096;
    StagedFiles staged;
    stageRecord(staged, "/flash/lib/libx.so", StagedKind::Symlink, "libx.so.2");
    stageRecord(staged, "/flash/var/pdb/pkg/", StagedKind::Delete, "");
    Figures figures = check(staged);
    EXPECT_EQ(figures.main, freeBytesOf("/flash/") + (2 + directoryBlocks) * 4096);
  });
}

TEST_F(DiskSpaceTest, UnreadableKernelDiskHasNoRoom) {
  mountDisks(1u << 20, false);
  if (IsSkipped()) return;
  root.writeFile("/ram/tmpAAAAAA", "abc");
  runInChroot(root.path(), [] {
    Figures empty = check(StagedFiles());
    EXPECT_TRUE(empty.fits);
    EXPECT_EQ(empty.kernel, 0);
    StagedFiles staged;
    stageRecord(staged, "/flash/boot/kernel", StagedKind::Write, "/ram/tmpAAAAAA");
    Figures figures = check(staged);
    EXPECT_FALSE(figures.fits);
    EXPECT_EQ(figures.kernel, -3 - 32768);  // block size 1
    EXPECT_EQ(figures.main, freeBytesOf("/flash/"));
  });
}

TEST_F(DiskSpaceTest, LargeDiskDoesNotOverflow) {
  mountDisks(16ul << 30);  // a size limit only; tmpfs takes no memory for it
  if (IsSkipped()) return;
  root.writeFile("/ram/tmpAAAAAA", std::string(4097, 'n'));
  runInChroot(root.path(), [] {
    Figures empty = check(StagedFiles());
    EXPECT_EQ(empty.main, int64_t{16} << 30);
    StagedFiles staged;
    stageRecord(staged, "/flash/new", StagedKind::Write, "/ram/tmpAAAAAA");
    Figures figures = check(staged);
    EXPECT_TRUE(figures.fits);
    EXPECT_EQ(figures.main, (int64_t{16} << 30) - 2 * 4096 - 32768);
  });
}

// --- Pure rules --------------------------------------------------------------------

TEST(DiskSpaceRules, IsUnderPath) {
  DiskSpace disk;
  disk.path = "/flash/";
  EXPECT_TRUE(isUnderPath(disk, "/flash/"));
  EXPECT_TRUE(isUnderPath(disk, "/flash/boot/kernel"));
  EXPECT_FALSE(isUnderPath(disk, "/flash"));
  EXPECT_FALSE(isUnderPath(disk, "/flashy/x"));
  EXPECT_FALSE(isUnderPath(disk, "/ram/flash/x"));
  EXPECT_FALSE(isUnderPath(disk, ""));
}

TEST(DiskSpaceRules, BlocksAreWholeBlocks) {
  DiskSpace disk;
  disk.blockSize = 4096;
  const int64_t cases[][2] = {{0, 0}, {1, 1}, {4096, 1}, {4097, 2}, {10000, 3}, {12289, 4},
                              {int64_t{1} << 40, int64_t{1} << 28}};
  for (const auto& c : cases) EXPECT_EQ(blocksFor(disk, c[0]), c[1]) << c[0];
  disk.blockSize = 1;
  EXPECT_EQ(blocksFor(disk, 12345), 12345);
}

TEST(DiskSpaceRules, ShortfallKilobytes) {
  const int64_t cases[][2] = {{-1, 1}, {-1023, 1}, {-1024, 2}, {-1500, 2}, {-2048, 3}, {-4096, 5},
                              {-(int64_t{5} << 40), (int64_t{5} << 30) + 1}};
  for (const auto& c : cases) EXPECT_EQ(shortfallKilobytes(c[0]), c[1]) << c[0];
}

TEST(DiskSpaceRules, UnreadableDiskHasBlockSizeOneAndNothingFree) {
  DiskSpace disk = readDiskSpace("/nonexistent/disk/");
  EXPECT_EQ(disk.path, "/nonexistent/disk/");
  EXPECT_EQ(disk.blockSize, 1);
  EXPECT_EQ(disk.freeBlocks, 0);
  EXPECT_EQ(disk.freeBlocksAtStart, 0);
}

}  // namespace
