// End-to-end upgrade runs that do not fit on the flash: small tmpfs mounts
// over the test root's "/flash" (the main disk) and "/flash/boot" (the
// kernel disk), the package files in the download directory on neither.
#include <gtest/gtest.h>
#include <sys/statfs.h>

#include <memory>

#include "support/chroot_runner.h"
#include "support/process_runner.h"
#include "support/scratch_mount.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

constexpr PackageVersion v1 = makeVersion(1, 0, Final, 0);

long freeBlocks(const std::string& path) {
  struct statfs info;
  if (statfs(path.c_str(), &info) != 0 || info.f_bsize != 4096) return -1;
  return static_cast<long>(info.f_bfree);
}

class DiskSpaceRun : public testing::Test {
 protected:
  // Each disk is left with fewer than 16 free blocks, less than the 64 KiB a
  // temporary file needs beside its destination: every staged file is made
  // in "/ram" (the root's own file system) and counts in full against the
  // disk it goes to. The main disk keeps 12 blocks, the kernel disk 6.
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    prepareDeviceRoot(root);
    flash = std::make_unique<ScratchMount>(root.at("/flash"), 128 * 1024);
    SKIP_UNLESS_MOUNTED(*flash);
    boot = std::make_unique<ScratchMount>(root.at("/flash/boot"), 64 * 1024);
    SKIP_UNLESS_MOUNTED(*boot);
    root.makeDirs("/flash/var/pdb");
    root.writeFile("/flash/filler", std::string(20 * 4096, 'f'));
    root.writeFile("/flash/boot/filler", std::string(10 * 4096, 'k'));
    ASSERT_EQ(freeBlocks(root.at("/flash")), 12);
    ASSERT_EQ(freeBlocks(root.at("/flash/boot")), 6);
  }

  // A package with `mainBytes` in "bin/big" and `kernelBytes` in
  // "boot/vmlinux" (none when 0), in the download directory.
  void offer(size_t mainBytes, size_t kernelBytes) {
    std::vector<FileEntry> files;
    if (mainBytes > 0) files.push_back(fileEntry("bin/big", std::string(mainBytes, 'm')));
    if (kernelBytes > 0) files.push_back(fileEntry("boot/vmlinux", std::string(kernelBytes, 'v')));
    root.writeFile("/rw/pckg/.download/big.kmp", signedPackage(packageRecipe("big", v1, files)));
  }

  ProcessResult upgrade(const std::vector<std::string>& options = {}) {
    std::vector<std::string> arguments = {"-r", root.path()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return runInstaller(arguments);
  }

  TempRoot root;
  std::unique_ptr<ScratchMount> flash;
  std::unique_ptr<ScratchMount> boot;
};

// Besides the package's own files, the main disk is charged a block for
// each of the record's "version" and "files" lists ("deps" is empty), and
// the log reserved at the start of the run already holds one. What is left
// must keep 32 KiB (8 blocks) free.
TEST_F(DiskSpaceRun, ShortfallIsReportedInKilobytesAndNothingIsCommitted) {
  struct Case {
    size_t mainBytes, kernelBytes;
    const char* messages;
  };
  const Case cases[] = {
      // 12 - 1 log - 2 lists - 2 = 7 blocks: 4 KiB short.
      {4097, 0, "ERROR: upgrade failed, free 5 kB of disk space\n"},
      // 12 - 1 - 2 - 5 = 4 blocks: 16 KiB short, a whole number, still + 1.
      {20000, 0, "ERROR: upgrade failed, free 17 kB of disk space\n"},
      // The kernel disk: 6 - 3 = 3 blocks, 20 KiB short.
      {0, 8193, "ERROR: upgrade failed, free 21 kB of kernel disk space\n"},
      // Both: the kernel disk first.
      {20000, 8193,
       "ERROR: upgrade failed, free 21 kB of kernel disk space\n"
       "ERROR: upgrade failed, free 17 kB of disk space\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messages);
    offer(c.mainBytes, c.kernelBytes);
    root.writeFile("/flash/postlog", "");
    std::string before = treeWithoutPostlog(root);
    ProcessResult result = upgrade();
    EXPECT_EQ(result.exitStatus, 28);
    EXPECT_EQ(root.readFile("/flash/postlog"), c.messages);
    EXPECT_EQ(result.out.find("installed"), std::string::npos) << result.out;
    EXPECT_EQ(treeWithoutPostlog(root), before);
  }
}

TEST_F(DiskSpaceRun, WorkThatLeavesExactlyTheReserveIsCommitted) {
  // 12 - 1 - 2 - 1 = 8 blocks.
  offer(4096, 0);
  ProcessResult result = upgrade();
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(root.readFile("/flash/bin/big"), std::string(4096, 'm'));
}

TEST_F(DiskSpaceRun, ReinstallSkipsTheCheck) {
  offer(20000, 8193);
  ProcessResult result = upgrade({"--reinstall"});
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(root.readFile("/flash/bin/big"), std::string(20000, 'm'));
  EXPECT_EQ(root.readFile("/flash/boot/vmlinux"), std::string(8193, 'v'));
}

}  // namespace
