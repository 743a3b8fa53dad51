// Disk space accounting against small tmpfs disks of known size: "/flash"
// and "/flash/boot" are separate tmpfs mounts in the test root, "/ram" lies
// on the test root's own file system.
#include "staging/disk_space.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <memory>
#include <vector>

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

// One staged set each on a "/flash" of the size given (4 KiB blocks) and a
// 256 KiB "/flash/boot": whether it fits and how the free figures (f_bfree)
// move. Any growth takes the 32 KiB reserve as well; no change takes none.
TEST(DiskSpaceFigures, StagedSetTable) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs and chroot";
  struct File {
    const char* path;
    size_t size;
  };
  struct Op {
    const char* path;
    StagedKind kind;
    const char* target;
  };
  struct Case {
    const char* what;
    unsigned long flashBytes;
    std::vector<File> files;
    std::vector<Op> ops;
    bool fits;
    int64_t mainChange, kernelChange;
  };
  const int64_t reserve = 32768;
  const Case cases[] = {
      {"empty set", 1u << 20, {}, {}, true, 0, 0},
      {"large disk", 16ul << 30, {{"/ram/tmpAAAAAA", 4097}},  // a size limit only: tmpfs takes no memory for it
       {{"/flash/new", StagedKind::Write, "/ram/tmpAAAAAA"}}, true, -2 * 4096 - reserve, 0},
      {"replacement of equal blocks", 1u << 20, {{"/flash/bin/tool", 10000}, {"/ram/tmpAAAAAA", 10000}},
       {{"/flash/bin/tool", StagedKind::Write, "/ram/tmpAAAAAA"}}, true, 0, 0},
      {"one more block", 1u << 20, {{"/flash/bin/tool", 10000}, {"/ram/tmpAAAAAA", 12289}},
       {{"/flash/bin/tool", StagedKind::Write, "/ram/tmpAAAAAA"}}, true, -4096 - reserve, 0},
      {"one byte on eight free blocks", 32768, {{"/ram/tmpAAAAAA", 1}},
       {{"/flash/new", StagedKind::Write, "/ram/tmpAAAAAA"}}, false, -4096 - reserve, 0},
      {"paths outside /flash/", 1u << 20, {{"/ram/big", 50000}, {"/ram/old", 50000}},
       {{"/ram/new", StagedKind::Move, "/ram/big"}, {"/ram/old", StagedKind::Delete, ""},
        {"/flash", StagedKind::Move, "/ram/big"}}, true, 0, 0},
      {"kernel removal", 1u << 20, {{"/flash/boot/kernel", 8192}},
       {{"/flash/boot/kernel", StagedKind::Delete, ""}}, true, 0, 2 * 4096},
      {"kernel addition", 1u << 20, {{"/ram/tmpAAAAAA", 5000}},
       {{"/flash/boot/missing/file", StagedKind::Write, "/ram/tmpAAAAAA"}}, true, 0, -2 * 4096 - reserve},
      {"temporary file on the destination disk", 1u << 20, {{"/flash/tmpAAAAAA", 9000}, {"/flash/tmpBBBBBB", 9000}},
       {{"/flash/new", StagedKind::Write, "/flash/tmpAAAAAA"},
        {"/flash/not/yet/made/file", StagedKind::Move, "/flash/tmpBBBBBB"}}, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempRoot root;
    root.makeDirs("/ram");
    ScratchMount flash(root.at("/flash"), c.flashBytes);
    SKIP_UNLESS_MOUNTED(flash);
    ScratchMount boot(root.at("/flash/boot"), 256u << 10);
    SKIP_UNLESS_MOUNTED(boot);
    for (const File& file : c.files) root.writeFile(file.path, std::string(file.size, 'x'));
    runInChroot(root.path(), [&c] {
      ASSERT_EQ(blockSizeOf("/flash/"), 4096);
      StagedFiles staged;
      for (const Op& op : c.ops) stageRecord(staged, op.path, op.kind, op.target);
      Figures figures = check(staged);
      EXPECT_EQ(figures.fits, c.fits);
      EXPECT_EQ(figures.main, freeBytesOf("/flash/") + c.mainChange);
      EXPECT_EQ(figures.kernel, freeBytesOf("/flash/boot/") + c.kernelChange);
      if (!c.fits) {
        EXPECT_EQ(shortfallKilobytes(figures.main), 5);
      }
    });
  }
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
