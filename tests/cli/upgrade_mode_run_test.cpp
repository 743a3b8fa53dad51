// The disk space check of the upgrade run and of standard-input mode, on
// disks of chosen sizes.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/installer_main.h"
#include "support/recorded_output.h"
#include "support/test_packages.h"
#include "support/test_root.h"

namespace installer {
namespace {

// 6 free blocks of 4 KiB on the kernel disk and 12 on the main disk before
// anything is written (an upgrade run's log takes one of them at once), and "/ram" on a file system of its own: the
// files staged there (there is no room beside their destinations) count in full.
class SmallDisks : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  Status spaceStatus(const std::string& path, SpaceStatus& out) override {
    if (path.compare(0, 6, "/flash") != 0) return EnvWrapper::spaceStatus(path, out);
    bool kernel = path.compare(0, 11, "/flash/boot") == 0;
    out = {4096, (kernel ? 6u : 12u) - usedBlocks(kernel ? "/flash/boot" : "/flash", kernel)};
    return Status::ok();
  }
  // The blocks the files below `directory` take (the kernel disk's not counted on the main disk).
  uint64_t usedBlocks(const std::string& directory, bool kernel) {
    std::vector<std::string> names;
    uint64_t blocks = 0;
    if (!listDirectory(directory, names).isOk()) return 0;
    for (const std::string& name : names) {
      std::string path = directory + "/" + name;
      FileStatus info;
      if ((!kernel && path == "/flash/boot") || !linkStatus(path, info).isOk()) continue;
      blocks += info.type == FileType::Directory ? usedBlocks(path, kernel) : (info.size + 4095) / 4096;
    }
    return blocks;
  }
  Status status(const std::string& path, FileStatus& out) override {
    Status found = EnvWrapper::status(path, out);
    out.device += path.compare(0, 4, "/ram") == 0;
    return found;
  }
};

// Besides its files, the record's "version" and "files" take a block each,
// and the main disk must keep 32 KiB free. ("-b" is read and ignored.)
TEST(UpgradeModeRun, WorkThatDoesNotFitIsReportedAndDropped) {
  struct Case {
    size_t mainBytes, kernelBytes;
    const char* option;
    int status;
    const char* log;
  } cases[] = {
      {4097, 0, "-b", ExitNoSpace, "ERROR: upgrade failed, free 5 kB of disk space\n"},
      {20000, 8193, "-b", ExitNoSpace,
       "ERROR: upgrade failed, free 21 kB of kernel disk space\nERROR: upgrade failed, free 17 kB of disk space\n"},
      // Reinstalled files take room too: the check is made all the same.
      {20000, 8193, "--reinstall", ExitNoSpace,
       "ERROR: upgrade failed, free 21 kB of kernel disk space\nERROR: upgrade failed, free 17 kB of disk space\n"},
      {1, 0, "--reinstall", ExitSuccess, "installed big-1.0\n"},
      // A package from standard input is weighed the same way (it prepares no log).
      {8193, 0, "-", ExitNoSpace, "ERROR: upgrade failed, free 5 kB of disk space\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    TestRoot root;
    std::string package = signedPackage(packageRecipe("big", v(1, 0),
                                                      {fileEntry("bin/big", std::string(c.mainBytes, 'm')),
                                                       fileEntry("boot/vmlinux", std::string(c.kernelBytes, 'k'))}));
    root.write("/rw/pckg/.download/big.kmp", package);
    root.write("/ram/installer.lock", "", 0600);  // every run leaves its lock
    std::string before = root.tree();
    SmallDisks disks(root.env());
    std::istringstream input(std::string(c.option) == "-" ? package : "");
    RecordedOutput output;
    EXPECT_EQ(installerMain(disks, output, {c.option}, input), c.status);
    EXPECT_EQ(root.read("/flash/postlog"), c.log);
    removeHostTree(root.host("/flash/postlog"));
    EXPECT_EQ(root.read("/flash/bin/big").size(), c.status == ExitSuccess ? c.mainBytes : 0);
    if (c.status != ExitSuccess) {
      EXPECT_EQ(root.tree(), before);  // nothing committed
    }
  }
}

}  // namespace
}  // namespace installer
