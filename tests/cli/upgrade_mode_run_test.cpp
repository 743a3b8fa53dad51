// The disk space check of the upgrade run and of standard-input mode, on
// disks of chosen sizes.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/installer_main.h"
#include "support/recorded_output.h"
#include "support/simulated_device.h"
#include "support/test_packages.h"

namespace installer {
namespace {

// 6 free blocks of 4 KiB on the kernel disk ("/flash/boot") and 12 on the
// main disk (the root, "/flash" on it) before anything is written (an
// upgrade run's log takes one of them at once), and "/ram" on a file system
// of its own: the files staged there (there is no room beside their
// destinations) count in full.
std::unique_ptr<SimulatedDevice> smallDisks() {
  auto device = std::make_unique<SimulatedDevice>(
      std::vector<SimulatedDevice::Mount>{{"/"}, {"/flash/boot"}, {"/ram", 4096, 1 << 16, 0, true}});
  for (const char* dir : {"/flash/var/pdb", "/tmp"}) EXPECT_TRUE(device->addDirectories(dir));
  return device;
}

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
    auto device = smallDisks();
    SimulatedDevice& root = *device;
    std::string package = signedPackage(packageRecipe("big", v(1, 0),
                                                      {fileEntry("bin/big", std::string(c.mainBytes, 'm')),
                                                       fileEntry("boot/vmlinux", std::string(c.kernelBytes, 'k'))}));
    ASSERT_TRUE(root.addFile("/rw/pckg/.download/big.kmp", package));
    ASSERT_TRUE(root.addFile("/ram/installer.lock", "", 0600));  // every run leaves its lock
    root.leaveFree("/", 12);
    root.leaveFree("/flash/boot", 6);
    std::string before = root.tree();
    std::istringstream input(std::string(c.option) == "-" ? package : "");
    RecordedOutput output;
    EXPECT_EQ(installerMain(root, output, {c.option}, input), c.status);
    std::string log, big;
    EXPECT_TRUE(root.read("/flash/postlog", log));
    EXPECT_EQ(log, c.log);
    ASSERT_TRUE(root.removeTree("/flash/postlog"));
    EXPECT_EQ(root.read("/flash/bin/big", big) ? big.size() : 0, c.status == ExitSuccess ? c.mainBytes : 0);
    if (c.status != ExitSuccess) {
      EXPECT_EQ(root.tree(), before);  // nothing committed
    }
  }
}

}  // namespace
}  // namespace installer
