// The promise of the commit, on a simulated device whose flash loses what
// was not synced at a power cut, file data and changes of names alike, and
// whose "/ram" is gone after one: a run that dies at any change of the
// storage, followed by a power cut (losing every unsynced change of names,
// or only one of them, or none) or by nothing, and one more run, leaves the
// old software or the new one, whole, with no temporary file; a write,
// sync or rename that fails leaves the old one, or the new one once the
// next run has finished it.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <iostream>
#include <sstream>

#include "cli/installer_main.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/test_packages.h"

namespace installer {
namespace {

using Loss = SimulatedDevice::Loss;

struct RunResult {
  int status;
  std::string out;
};

RunResult run(Env& env, const std::vector<std::string>& arguments, const std::string& input = "") {
  std::istringstream stream(input);
  RecordedOutput output;
  return {installerMain(env, output, arguments, stream), output.printed};  // in this order
}

// One transaction: the device before it, and the run that makes it. The
// flash is the root file system ("/flash", "/rw" and "/tmp" lie on it),
// "/ram" a RAM disk.
struct Transaction {
  const char* name;
  std::function<void(SimulatedDevice&)> prepare;
  std::vector<std::string> arguments;
  std::function<std::string()> input;  // made when needed: keys are read then
  uint64_t flashBlockSize = 4096, flashBlocks = 1 << 16;
  size_t aloneSamples = 6;  // unsynced changes lost alone, at most, per stop point
};

std::string helloPackage(PackageVersion version, std::vector<FileEntry> files) {
  return signedPackage(packageRecipe("hello", version, std::move(files)));
}

void installHelloOne(SimulatedDevice& device) {
  std::string one = helloPackage(v(1, 0), {fileEntry("bin/hello", "one\n", 0100755), fileEntry("bin/old", "old\n"),
                                           fileEntry("lib/a", "a\n"), fileEntry("lib/b", "b\n")});
  ASSERT_EQ(run(device, {"-"}, one).status, 0);
}

// hello 2 adds a file, replaces one, drops one and turns the directory lib
// into a file.
std::string helloTwo() {
  return helloPackage(
      v(2, 0), {fileEntry("bin/hello", "two\n", 0100755), fileEntry("bin/new", "new\n"), fileEntry("lib", "a file\n")});
}

std::string extrasBundle(PackageVersion version, std::vector<std::string> members) {
  BundleRecipe bundle;
  bundle.name = "extras";
  bundle.version = version;
  bundle.buildTime = testBuildTime;
  for (const std::string& member : members) {
    bundle.packages.push_back(packageRecipe(member, version, {fileEntry("lib/" + member, member + "\n")}));
  }
  return signedBundle(bundle);
}

void installExtrasOne(SimulatedDevice& device) {
  ASSERT_EQ(run(device, {"-"}, extrasBundle(v(1, 0), {"a", "x"})).status, 0);
}

std::string extrasTwo() { return extrasBundle(v(2, 0), {"a", "c"}); }

std::string systemPackage(PackageVersion version) {
  return signedPackage(packageRecipe("system", version, {fileEntry("bin/sh", "sh " + std::to_string(version) + "\n")}));
}

void offerBootImage(SimulatedDevice& device) {
  ASSERT_EQ(run(device, {"-"}, systemPackage(v(1, 0))).status, 0);
  PackageRecipe kernel = packageRecipe("kernel", v(1, 0), {fileEntry("boot/vmlinux", "kernel\n")});
  kernel.headerFlags = 1;
  kernel.squashfsImage = std::string(3000, 's');
  ASSERT_TRUE(device.addFile("/flash/boot/kernel", "old kernel\n"));
  ASSERT_TRUE(device.addFile("/rw/pckg/.download/kernel.kmp", signedPackage(kernel)));
  device.setVariable("bootimage", "1");
}

void deferUpgrade(SimulatedDevice& device) {
  ASSERT_EQ(run(device, {"-"}, systemPackage(v(1, 0))).status, 0);
  ASSERT_TRUE(device.addFile("/rw/pckg/.download/system.kmp", systemPackage(v(2, 0))));
  ASSERT_EQ(run(device, {"--safe"}).status, 0);
}

std::string routingPackage(PackageVersion version, uint32_t seed) {
  std::vector<FileEntry> files;
  for (int i = 0; i < 12; ++i) files.push_back(fileEntry("lib/part" + std::to_string(i), noise(8192, seed + i)));
  return signedPackage(packageRecipe("routing", version, files));
}

// A small flash with one big package: its new version, in the download
// directory on the same flash, does not fit beside the old one, so most of
// its files are staged in "/ram".
void offerBigUpgrade(SimulatedDevice& device) {
  ASSERT_EQ(run(device, {"-"}, routingPackage(v(7, 1), 1)).status, 0);
  ASSERT_TRUE(device.addFile("/rw/pckg/.download/routing.kmp", routingPackage(v(7, 2), 100)));
}

void PrintTo(const Transaction& transaction, std::ostream* out) { *out << transaction.name; }

const Transaction transactions[] = {
    {"StandAloneUpgrade", installHelloOne, {"-"}, helloTwo},
    {"BundleUpgrade", installExtrasOne, {"-"}, extrasTwo},
    {"UpgradeRunWithBootImage", offerBootImage, {}, nullptr},
    {"CommitOfAManifest", deferUpgrade, {"--commit"}, nullptr},
    // So full that every new file is made in "/ram", and copied beside its
    // place before the commit.
    {"CopiesAcrossFileSystems", installHelloOne, {"-"}, helloTwo, 4096, 27},
    {"SmallFlashUpgrade", offerBigUpgrade, {}, nullptr, 1024, 360, 3},
};

// A device prepared for the transaction, everything durable.
std::unique_ptr<SimulatedDevice> prepared(const Transaction& t) {
  std::unique_ptr<SimulatedDevice> device = routerDevice(t.flashBlockSize, t.flashBlocks);
  t.prepare(*device);
  device->syncAll();
  device->revive();
  return device;
}

RunResult runIt(SimulatedDevice& device, const Transaction& t) {
  return run(device, t.arguments, t.input ? t.input() : "");
}

// The next run: a listing, which first finishes an interrupted commit.
void next(SimulatedDevice& device) { run(device, {"--show"}); }

// How the first run ends: killed and nothing lost, or a power cut.
struct Ending {
  bool cut;
  Loss loss = Loss::NothingUnsynced;
  size_t which = 0;
};

void end(SimulatedDevice& device, const Ending& ending) {
  ending.cut ? device.powerCut(ending.loss, ending.which) : device.revive();
}

class CommitTransaction : public testing::TestWithParam<Transaction> {
 protected:
  void SetUp() override {
    for (bool cut : {false, true}) {
      Ending ending{cut};
      std::unique_ptr<SimulatedDevice> before = prepared(GetParam());
      end(*before, ending);
      next(*before);
      oldTree[cut] = settledTree(*before);
      std::unique_ptr<SimulatedDevice> after = prepared(GetParam());
      RunResult result = runIt(*after, GetParam());
      ASSERT_EQ(result.status, 0) << result.out;
      stopPoints = after->changes();
      end(*after, ending);
      next(*after);
      newTree[cut] = settledTree(*after);
      ASSERT_NE(oldTree[cut], newTree[cut]);
    }
  }

  // The tree is the old one or the new one, exactly.
  void expectOldOrNew(const SimulatedDevice& device, bool cut, const std::string& what) {
    std::string tree = settledTree(device);
    EXPECT_TRUE(tree == oldTree[cut] || tree == newTree[cut]) << what << ":\n" << tree;
  }

  // Stops the run at change `stop`, ends it so and runs the next one.
  // Returns how many changes of names were not yet durable at the stop.
  size_t stopAndCheck(size_t stop, const Ending& ending, const std::string& what) {
    std::unique_ptr<SimulatedDevice> device = prepared(GetParam());
    device->crashAt(stop);
    runIt(*device, GetParam());
    size_t unsynced = device->unsyncedChanges();
    end(*device, ending);
    next(*device);
    expectOldOrNew(*device, ending.cut, what);
    return unsynced;
  }

  std::string oldTree[2], newTree[2];
  size_t stopPoints = 0;
};

// At every change of the storage: a kill; a power cut that loses every
// unsynced change of names, or none; and, for a spread sample of the
// unsynced ones (all of them where they are few), a cut that loses that one
// alone.
TEST_P(CommitTransaction, SurvivesAStopAndPowerCutAtEveryChange) {
  size_t states = 0;
  for (size_t stop = 1; stop <= stopPoints; ++stop) {
    std::string at = "stopped at change " + std::to_string(stop);
    size_t unsynced = stopAndCheck(stop, Ending{false}, at + ", killed");
    stopAndCheck(stop, Ending{true}, at + ", power cut");
    stopAndCheck(stop, Ending{true, Loss::EveryUnsyncedChange}, at + ", power cut losing every unsynced change");
    size_t step = unsynced / GetParam().aloneSamples + 1;
    states += 3;
    for (size_t which = 0; which < unsynced; which += step, ++states) {
      stopAndCheck(
          stop, Ending{true, Loss::OneUnsyncedChange, which},
          at + ", power cut losing unsynced change " + std::to_string(which) + " of " + std::to_string(unsynced));
    }
  }
  std::cout << "[ stops    ] " << GetParam().name << ": " << stopPoints << " stop points, " << states
            << " crash states\n";
}

TEST_P(CommitTransaction, FailedWriteSyncOrRenameLosesNothing) {
  for (EnvCall call : {EnvCall::Write, EnvCall::Sync, EnvCall::Rename}) {
    std::unique_ptr<SimulatedDevice> counting = prepared(GetParam());
    runIt(*counting, GetParam());
    size_t count = counting->calls(call);
    for (int error : {ENOSPC, EIO}) {
      for (size_t failing = 1; failing <= count; ++failing) {
        std::string what = "call " + std::to_string(failing) + " of kind " + std::to_string(static_cast<int>(call)) +
                           " failing with " + std::to_string(error);
        std::unique_ptr<SimulatedDevice> device = prepared(GetParam());
        device->failAt(call, failing, error);
        RunResult result = runIt(*device, GetParam());
        device->revive();
        next(*device);
        expectOldOrNew(*device, false, what + "\n" + result.out);
        if (settledTree(*device) == oldTree[false]) {
          EXPECT_NE(result.status, 0) << what;
          EXPECT_NE(result.out.find("ERROR: "), std::string::npos) << what << ": " << result.out;
        }
      }
    }
  }
}

// A --cancel killed at any point, then a --commit: the deferred upgrade is
// done whole or not at all, never half.
TEST(CancelThenCommit, NeverLeavesAHalfUpgrade) {
  Transaction deferred{"Deferred", deferUpgrade, {"--cancel"}, nullptr};
  std::unique_ptr<SimulatedDevice> cancelled = prepared(deferred);
  run(*cancelled, {"--cancel"});
  size_t stops = cancelled->changes();
  run(*cancelled, {"--commit"});
  std::string oldTree = settledTree(*cancelled);
  std::unique_ptr<SimulatedDevice> committed = prepared(deferred);
  run(*committed, {"--commit"});
  std::string newTree = settledTree(*committed);
  ASSERT_NE(oldTree, newTree);
  for (size_t stop = 1; stop <= stops; ++stop) {
    std::unique_ptr<SimulatedDevice> device = prepared(deferred);
    device->crashAt(stop);
    run(*device, {"--cancel"});
    device->revive();
    run(*device, {"--commit"});
    std::string tree = settledTree(*device);
    EXPECT_TRUE(tree == oldTree || tree == newTree) << "cancel stopped at change " << stop << ":\n" << tree;
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, CommitTransaction, testing::ValuesIn(transactions),
                         [](const testing::TestParamInfo<Transaction>& run) { return std::string(run.param.name); });

}  // namespace
}  // namespace installer
