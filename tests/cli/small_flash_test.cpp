// The router's usual case: a small flash with one big system package. Its
// new version, in the download directory on the same flash, does not fit
// beside the old one; most of its files are staged in "/ram", and the
// upgrade still goes through in place, also when the power fails in the
// middle of the commit and "/ram" is lost with the files staged there.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/installer_main.h"
#include "platform/device_paths.h"
#include "support/recorded_output.h"
#include "support/simulated_device.h"
#include "support/test_packages.h"

namespace installer {
namespace {

constexpr size_t fileCount = 122;

// 9.0 MB of files that compress to about 36 %.
std::string routing(PackageVersion version, uint32_t seed) {
  std::vector<FileEntry> files;
  for (size_t i = 0; i < fileCount; ++i) {
    std::string data(73770, ' ');
    for (size_t at = 0; at < data.size() * 9 / 25; ++at) {
      seed = seed * 1103515245u + 12345u;
      data[at] = static_cast<char>(seed >> 16);
    }
    files.push_back(fileEntry("lib/routing/part" + std::to_string(i), data));
  }
  return signedPackage(packageRecipe("routing", version, files));
}

int run(Env& env, const std::vector<std::string>& arguments, const std::string& input, std::string* out = nullptr) {
  std::istringstream stream(input);
  RecordedOutput output;
  int status = installerMain(env, output, arguments, stream);
  if (out != nullptr) *out = output.printed;
  return status;
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
    auto made = std::make_unique<SimulatedDevice>(
        std::vector<SimulatedDevice::Mount>{{"/", 4096, 4096, 0, false}, {"/ram", 4096, 1 << 14, 0, true}});
    for (const char* dir : {"/flash/var/pdb", "/rw/pckg/.download", "/tmp"}) EXPECT_TRUE(made->addDirectories(dir));
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

uint64_t freeBytes(SimulatedDevice& device) {
  SpaceStatus space;
  EXPECT_TRUE(device.spaceStatus("/flash", space).isOk());
  return space.freeBlocks * space.blockSize;
}

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
  EXPECT_GT(freeBytes(*flash), 3800000u);
  EXPECT_LT(freeBytes(*flash), 4200000u);
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
  EXPECT_EQ(run(*flash, {"-"}, *newPackage, &out), 28) << out;
  EXPECT_NE(out.find("ERROR: upgrade failed, free "), std::string::npos) << out;
  EXPECT_NE(out.find(" kB of disk space\n"), std::string::npos) << out;
  std::string after = flash->tree("/flash");
  size_t log = after.find("/flash/postlog");
  EXPECT_EQ(after.erase(log, after.find('\n', log) + 1 - log), before);
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
    std::string journal;
    bool interrupted = flash->read(paths::commitJournal, journal);
    std::string out;
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
