// Runs on a flash with little room: what standard-input mode needs of it
// (space, inodes, a copy of the stream only for an image), and the
// router's usual case, a small flash with one big system package. Its new
// version, in the download directory on the same flash, does not fit
// beside the old one; most of its files are staged in "/ram", and the
// upgrade still goes through in place, also when the power fails in the
// middle of the commit and "/ram" is lost with the files staged there.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "cli/installer_main.h"
#include "platform/device_paths.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/test_packages.h"

namespace installer {
namespace {

// A router whose flash (4 KiB blocks) has `freeBlocks` free, and as many
// inodes free as asked (0: no limit).
std::unique_ptr<SimulatedDevice> smallFlash(uint64_t freeBlocks, uint64_t freeInodes = 0) {
  std::unique_ptr<SimulatedDevice> probe = routerDevice(4096, 1000);
  SpaceStatus space;
  EXPECT_TRUE(probe->spaceStatus("/", space).isOk());
  std::string entries = probe->tree();
  uint64_t inodes = std::count(entries.begin(), entries.end(), '\n') + 1 + freeInodes;  // 1: the root
  return routerDevice(4096, 1000 - space.freeBlocks + freeBlocks, freeInodes == 0 ? 0 : inodes);
}

int run(Env& env, const std::vector<std::string>& arguments, const std::string& input, std::string* out = nullptr) {
  std::istringstream stream(input);
  RecordedOutput output;
  int status = installerMain(env, output, arguments, stream);
  if (out != nullptr) *out = output.printed;
  return status;
}

BundleRecipe bundleAll(std::vector<PackageRecipe> packages, std::optional<std::string> image = std::nullopt) {
  BundleRecipe bundle;
  bundle.name = "all";
  bundle.version = v(1, 0);
  bundle.buildTime = testBuildTime;
  bundle.squashfsImage = image;
  bundle.packages = std::move(packages);
  return bundle;
}

// The installer's own registry of temporary files takes a block of the
// flash before the check, and counts as gone: with exactly the reserve
// left once the work is done, the work is done. (The stream's copy is made
// on flash, so the registry is; the files, with no room beside their
// places, are made in "/ram" and count in full.) The work must also find an
// inode for every directory, file and link it makes, and the commit one for
// its journal ("tmpfs -o nr_inodes"). Work that does not fit changes
// nothing. The stream is copied to flash only for a package or bundle that
// keeps it, whole, as its image: one without needs no room for the copy,
// and one with an image on a full flash cannot have it made, and says so
// as any file that does not fit.
TEST(StandardInputRun, WhatFitsOnASmallFlash) {
  PackageRecipe image = packageRecipe("kernel", v(1, 0), {fileEntry("boot/k", "k\n")});
  image.squashfsImage = std::string(40000, 'i');
  PackageRecipe big = packageRecipe("big", v(1, 0), {fileEntry("bin/big", noise(512 * 1024))});
  // The file's 5 blocks, "version" and "files" one each, the new directory one: 8 left of 15.
  const std::string tool =
      signedPackage(packageRecipe("tool", v(1, 0), {fileEntry("bin/tool", std::string(20480, 't'))}));
  const std::string deep = signedPackage(packageRecipe("tool", v(1, 0), {fileEntry("lib/deep/tool", "t")}));
  const std::string bundle =
      signedBundle(bundleAll({packageRecipe("tool", v(1, 0), {fileEntry("bin/t", "t\n")})}, "all image"));
  struct Case {
    const char* what;
    uint64_t freeBlocks, freeInodes;
    std::string package;
    int status;
    const char* errors;  // what is printed from the first "ERROR" on
    const char* keptAs;  // where the whole stream is kept, if it is
  } cases[] = {
      {"exactly the reserve left", 15, 0, tool, ExitSuccess, "", nullptr},
      {"a block short of it", 14, 0, tool, ExitNoSpace, "ERROR: upgrade failed, free 5 kB of disk space\n", nullptr},
      {"inodes enough", 100, 40, deep, ExitSuccess, "", nullptr},
      {"too few inodes", 100, 8, deep, ExitNoSpace, "ERROR: upgrade failed, free 1 inodes of disk space\n", nullptr},
      {"an image on a full flash", 4, 0, signedPackage(image), ExitFailure,
       "ERROR: installation of kernel-1.0 failed: disk is too small\n", nullptr},
      // Room for the file once, not for a copy of the stream beside it.
      {"a big package without an image", 192, 0, signedPackage(big), ExitSuccess, "", nullptr},
      {"a bundle of it without an image", 192, 0, signedBundle(bundleAll({big})), ExitSuccess, "", nullptr},
      {"a package with an image", 100, 0, signedPackage(image), ExitSuccess, "", "/flash/var/pdb/kernel/image"},
      {"a bundle with an image", 100, 0, bundle, ExitSuccess, "", "/flash/var/pdb/all/image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<SimulatedDevice> device = smallFlash(c.freeBlocks, c.freeInodes);
    std::string before = device->tree("/flash"), out, kept;
    EXPECT_EQ(run(*device, {"-"}, c.package, &out), c.status) << out;
    EXPECT_EQ(out.substr(std::min(out.size(), out.find("ERROR"))), c.errors);
    if (c.status != ExitSuccess) {
      EXPECT_EQ(settledTree(*device, "/flash"), before);
    }
    if (c.keptAs != nullptr) {
      EXPECT_TRUE(device->read(c.keptAs, kept));
      EXPECT_TRUE(kept == c.package);  // not EXPECT_EQ: it would print all the bytes
    }
  }
}

// 9.0 MB of files that compress to about 36 %.
std::string routing(PackageVersion version, uint32_t seed) {
  std::vector<FileEntry> files;
  for (uint32_t i = 0; i < 122; ++i) {
    std::string data = noise(26557, seed * 1000 + i) + std::string(47213, ' ');  // 36 % of 73770 bytes is noise
    files.push_back(fileEntry("lib/routing/part" + std::to_string(i), data));
  }
  return signedPackage(packageRecipe("routing", version, files));
}

class SmallFlash : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    oldPackage = new std::string(routing(v(7, 1), 1));
    newPackage = new std::string(routing(v(7, 2), 2));
  }
  static void TearDownTestSuite() {
    delete oldPackage;
    delete newPackage;
  }

  // 16 MiB of flash holding routing 7.1, with 7.2 in the download directory.
  std::unique_ptr<SimulatedDevice> device() {
    std::unique_ptr<SimulatedDevice> made = routerDevice(4096, 4096);
    EXPECT_EQ(run(*made, {"-q", "-"}, *oldPackage), 0);
    EXPECT_TRUE(made->addFile("/rw/pckg/.download/routing.kmp", *newPackage));
    made->syncAll();
    made->revive();
    return made;
  }

  static std::string* oldPackage;
  static std::string* newPackage;
};

std::string* SmallFlash::oldPackage = nullptr;
std::string* SmallFlash::newPackage = nullptr;

// Every file of the package holds the new version's contents; nothing of
// the commit is left.
void expectUpgraded(SimulatedDevice& device) {
  std::string version, tree = device.tree("/flash");
  EXPECT_TRUE(device.read("/flash/var/pdb/routing/version", version));
  EXPECT_EQ(version.substr(0, version.find(' ')), std::to_string(v(7, 2)));
  EXPECT_EQ(tree.find("/tmp"), std::string::npos) << tree;
  EXPECT_FALSE(device.has(paths::commitJournal));
  EXPECT_FALSE(device.has(paths::temporaryRegistry));
}

TEST_F(SmallFlash, BigUpgradeGoesThroughInPlace) {
  std::unique_ptr<SimulatedDevice> flash = device();
  SpaceStatus space;
  EXPECT_TRUE(flash->spaceStatus("/flash", space).isOk());
  EXPECT_GT(space.freeBlocks * 4096, 3800000u);
  EXPECT_LT(space.freeBlocks * 4096, 4200000u);
  std::string out;
  EXPECT_EQ(run(*flash, {}, "", &out), 0) << out;
  EXPECT_NE(out.find("installed routing-7.2\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  expectUpgraded(*flash);
}

// From standard input the stream's copy is not kept (the package carries no
// image), so nothing on flash could make the files in "/ram" again: they
// would have to be copied beside the old ones first, which does not fit.
// The run says so with the figure before anything changes.
TEST_F(SmallFlash, FromStandardInputItIsRefusedWithTheFigure) {
  std::unique_ptr<SimulatedDevice> flash = device();
  std::string before = flash->tree("/flash"), out;
  EXPECT_EQ(run(*flash, {"-"}, *newPackage, &out), ExitNoSpace) << out;
  EXPECT_NE(out.find("ERROR: upgrade failed, free "), std::string::npos) << out;
  EXPECT_NE(out.find(" kB of disk space\n"), std::string::npos) << out;
  EXPECT_EQ(settledTree(*flash, "/flash"), before);
}

// The power fails during the commit, after the journal was written: the
// files staged in "/ram" are gone, and the next run makes them again from
// the package file on flash.
TEST_F(SmallFlash, PowerCutDuringTheCommitIsRolledForward) {
  std::unique_ptr<SimulatedDevice> counting = device();
  EXPECT_EQ(run(*counting, {}, ""), 0);
  size_t changes = counting->changes();
  size_t rolledForward = 0;
  for (size_t percent : {80, 90, 97}) {
    std::unique_ptr<SimulatedDevice> flash = device();
    flash->crashAt(changes * percent / 100);
    run(*flash, {}, "");
    flash->powerCut(SimulatedDevice::Loss::EveryUnsyncedChange);
    std::string journal, out;
    bool interrupted = flash->read(paths::commitJournal, journal);
    EXPECT_EQ(run(*flash, {"--show"}, "", &out), 0) << out;
    if (!interrupted) continue;
    EXPECT_NE(journal.find("\ncopy "), std::string::npos);
    EXPECT_NE(out.find("finished the commit of an interrupted run"), std::string::npos) << out;
    expectUpgraded(*flash);
    ++rolledForward;
  }
  EXPECT_GT(rolledForward, 0u);
}

}  // namespace
}  // namespace installer
