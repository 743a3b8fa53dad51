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
    TestRoot root;
    std::vector<FileEntry> files = {fileEntry("bin/big", std::string(c.mainBytes, 'm')),
                                    fileEntry("boot/vmlinux", std::string(c.kernelBytes, 'k'))};
    std::string package = signedPackage(packageRecipe("big", v(1, 0), files));
    root.write("/rw/pckg/.download/big.kmp", package);
    root.write("/ram/installer.lock", "", 0600);  // every run leaves its lock
    std::string before = root.tree();
    SmallDisks disks(root.env());
    std::istringstream input(std::string(c.option) == "-" ? package : "");
    RecordedOutput output;
    EXPECT_EQ(installerMain(disks, output, {c.option}, input), c.status) << c.log;
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

namespace installer {
namespace {

// A flash (the root file system) and a RAM disk, with `freeBlocks` of 4 KiB
// free on the flash, and as many inodes free as asked (0: no limit).
std::unique_ptr<SimulatedDevice> smallFlash(uint64_t freeBlocks, uint64_t freeInodes = 0) {
  auto probe = std::make_unique<SimulatedDevice>(
      std::vector<SimulatedDevice::Mount>{{"/", 4096, 1000, 0, false}, {"/ram", 4096, 1000, 0, true}});
  for (const char* dir : {"/flash/var/pdb", "/rw/pckg/.download", "/tmp"}) EXPECT_TRUE(probe->addDirectories(dir));
  SpaceStatus space;
  EXPECT_TRUE(probe->spaceStatus("/", space).isOk());
  uint64_t used = 1000 - space.freeBlocks, inodes = 0;
  if (freeInodes != 0) {
    std::istringstream entries(probe->tree());
    for (std::string line; std::getline(entries, line);) ++inodes;
    inodes += 1 + freeInodes;  // the root
  }
  auto device = std::make_unique<SimulatedDevice>(std::vector<SimulatedDevice::Mount>{
      {"/", 4096, used + freeBlocks, inodes, false}, {"/ram", 4096, 1000, 0, true}});
  for (const char* dir : {"/flash/var/pdb", "/rw/pckg/.download", "/tmp"}) EXPECT_TRUE(device->addDirectories(dir));
  return device;
}

int runOn(SimulatedDevice& device, const std::vector<std::string>& arguments, const std::string& input,
          std::string& out) {
  std::istringstream stream(input);
  RecordedOutput output;
  int status = installerMain(device, output, arguments, stream);
  out = output.printed;
  return status;
}

// The installer's own registry of temporary files takes a block of the
// flash before the check, and counts as gone: with exactly the reserve
// left once the work is done, the work is done. (Standard input: the
// stream's copy is made on flash, so the registry is; the files, with no
// room beside their places, are made in "/ram" and count in full.)
TEST(UpgradeModeRun, ExactlyTheReserveLeftIsEnough) {
  std::string package = signedPackage(packageRecipe("tool", v(1, 0), {fileEntry("bin/tool", std::string(20480, 't'))}));
  for (uint64_t free : {15, 14}) {
    std::unique_ptr<SimulatedDevice> device = smallFlash(free);
    std::string out;
    // The file's 5 blocks, "version" and "files" one each, the new directory one: 8 left of 15.
    EXPECT_EQ(runOn(*device, {"-"}, package, out), free == 15 ? ExitSuccess : ExitNoSpace) << out;
    std::string errors = out.substr(std::min(out.size(), out.find("ERROR")));
    EXPECT_EQ(errors, free == 15 ? "" : "ERROR: upgrade failed, free 5 kB of disk space\n");
  }
}

// A file system that counts inodes: the work must find one for every
// directory, file and link it makes, and the commit one for its journal,
// or nothing is done ("tmpfs -o nr_inodes").
TEST(UpgradeModeRun, WorkThatNeedsMoreInodesThanThereAreIsRefused) {
  std::string package = signedPackage(packageRecipe("tool", v(1, 0), {fileEntry("lib/deep/tool", "t")}));
  for (uint64_t inodes : {40, 8}) {
    std::unique_ptr<SimulatedDevice> device = smallFlash(100, inodes);
    std::string before = device->tree("/flash"), out;
    int status = runOn(*device, {"-"}, package, out);
    if (inodes == 40) {
      EXPECT_EQ(status, ExitSuccess) << out;
      continue;
    }
    EXPECT_EQ(status, ExitNoSpace) << out;
    EXPECT_NE(out.find("ERROR: upgrade failed, free "), std::string::npos) << out;
    EXPECT_NE(out.find(" inodes of disk space\n"), std::string::npos) << out;
    std::string after = device->tree("/flash");
    size_t log = after.find("/flash/postlog");
    EXPECT_EQ(after.erase(log, after.find('\n', log) + 1 - log), before);
  }
}

// A package with an image on a full flash: the copy of the stream cannot be
// made, and says so as any file that does not fit.
TEST(UpgradeModeRun, ImageOnAFullFlashIsTooBig) {
  PackageRecipe recipe = packageRecipe("kernel", v(1, 0), {fileEntry("boot/k", "k\n")});
  recipe.squashfsImage = std::string(40000, 'i');
  std::unique_ptr<SimulatedDevice> device = smallFlash(4);
  std::string out;
  EXPECT_EQ(runOn(*device, {"-"}, signedPackage(recipe), out), ExitFailure);
  EXPECT_NE(out.find("ERROR: installation of kernel-1.0 failed: disk is too small\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace installer
