// The promise of the commit: a run that dies at any change of the storage,
// followed by a power cut and one more run, leaves the old software or the
// new one, whole; a write or rename that fails leaves the old one, or (after
// the journal was written) the new one once the next run has finished it.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <functional>
#include <set>
#include <sstream>

#include "cli/run_modes.h"
#include "platform/fault_env.h"
#include "support/staging_env.h"
#include "support/test_packages.h"
#include "support/test_root.h"

namespace installer {
namespace {

constexpr const char* settledOut[] = {"/flash/postlog ", "/ram/installer.lock "};

// Temporary names are random: "/tmpAbc123" reads "/tmpXXXXXX".
std::string withoutRandomNames(std::string line) {
  for (size_t at = line.find("/tmp"); at != std::string::npos; at = line.find("/tmp", at + 1)) {
    size_t end = at + 4;
    while (end < line.size() && std::isalnum(static_cast<unsigned char>(line[end]))) ++end;
    if (end - at == 10) line.replace(at + 4, 6, "XXXXXX");
  }
  return line;
}

// The tree without what every run rewrites on its own (the log, the lock).
std::string settledTree(const TestRoot& root) {
  std::istringstream lines(root.tree());
  std::multiset<std::string> kept;
  std::string line;
  while (std::getline(lines, line)) {
    bool skip = false;
    for (const char* prefix : settledOut) skip = skip || line.rfind(prefix, 0) == 0;
    if (!skip) kept.insert(withoutRandomNames(line));
  }
  std::string text;
  for (const std::string& entry : kept) text += entry + "\n";
  return text;
}

struct RunResult {
  int status = 0;
  std::string out;
};

RunResult run(Env& env, const std::vector<std::string>& arguments, const std::string& input = "") {
  std::istringstream stream(input);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  RunResult result;
  result.status = installerMain(env, arguments, stream);
  result.out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  return result;
}

// One transaction: the device before it, and the run that makes it.
struct Transaction {
  const char* name;
  std::function<void(TestRoot&)> prepare;
  std::vector<std::string> arguments;
  std::function<std::string()> input;  // made when needed: keys are read then
  bool smallFlash = false;
};

struct Devices {
  TestRoot root;
  // A flash so full that new files are made in "/ram", which lies on a file
  // system of its own, so that the commit has to copy them across.
  DiskEnv small{root.env(), {{"/flash", 0, 4096, 15}, {"/ram", 1, 4096, 1 << 20}}};
  FaultEnv faults;
  explicit Devices(const Transaction& t) : faults(t.smallFlash ? static_cast<Env&>(small) : root.env()) {
    t.prepare(root);
  }
  RunResult runIt(const Transaction& t) { return run(faults, t.arguments, t.input ? t.input() : ""); }
  // The next run: a listing, which first finishes an interrupted commit.
  void next() { run(root.env(), {"--show"}); }
};

std::string helloPackage(PackageVersion version, std::vector<FileEntry> files) {
  return signedPackage(packageRecipe("hello", version, std::move(files)));
}

void installHelloOne(TestRoot& root) {
  std::string one = helloPackage(v(1, 0), {fileEntry("bin/hello", "one\n", 0100755), fileEntry("bin/old", "old\n"),
                                           fileEntry("lib/a", "a\n"), fileEntry("lib/b", "b\n")});
  ASSERT_EQ(run(root.env(), {"-"}, one).status, 0);
}

// hello 2 adds a file, replaces one, drops one and turns the directory lib
// into a file.
std::string helloTwo() {
  return helloPackage(v(2, 0),
                      {fileEntry("bin/hello", "two\n", 0100755), fileEntry("bin/new", "new\n"), fileEntry("lib", "a file\n")});
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

void installExtrasOne(TestRoot& root) { ASSERT_EQ(run(root.env(), {"-"}, extrasBundle(v(1, 0), {"a", "x"})).status, 0); }

std::string systemPackage(PackageVersion version) {
  return signedPackage(packageRecipe("system", version, {fileEntry("bin/sh", "sh " + std::to_string(version) + "\n")}));
}

void offerBootImage(TestRoot& root) {
  ASSERT_EQ(run(root.env(), {"-"}, systemPackage(v(1, 0))).status, 0);
  PackageRecipe kernel = packageRecipe("kernel", v(1, 0), {fileEntry("boot/vmlinux", "kernel\n")});
  kernel.headerFlags = 1;
  kernel.squashfsImage = std::string(3000, 's');
  root.write("/flash/boot/kernel", "old kernel\n");
  root.write("/rw/pckg/.download/kernel.kmp", signedPackage(kernel));
  root.env().setVariable("bootimage", "1");
}

void deferUpgrade(TestRoot& root) {
  ASSERT_EQ(run(root.env(), {"-"}, systemPackage(v(1, 0))).status, 0);
  root.write("/rw/pckg/.download/system.kmp", systemPackage(v(2, 0)));
  ASSERT_EQ(run(root.env(), {"--safe"}).status, 0);
}

void PrintTo(const Transaction& transaction, std::ostream* out) { *out << transaction.name; }

const Transaction transactions[] = {
    {"StandAloneUpgrade", installHelloOne, {"-"}, helloTwo},
    {"BundleUpgrade", installExtrasOne, {"-"}, [] { return extrasBundle(v(2, 0), {"a", "c"}); }},
    {"UpgradeRunWithBootImage", offerBootImage, {}, nullptr},
    {"CommitOfAManifest", deferUpgrade, {"--commit"}, nullptr},
    {"CopiesAcrossFileSystems", installHelloOne, {"-"}, helloTwo, true},
};

class CommitTransaction : public testing::TestWithParam<Transaction> {
 protected:
  void SetUp() override {
    Devices before(GetParam());
    oldTree = settledTree(before.root);
    Devices after(GetParam());
    ASSERT_EQ(after.runIt(GetParam()).status, 0);
    stopPoints = after.faults.changes();
    after.next();
    newTree = settledTree(after.root);
    ASSERT_NE(oldTree, newTree);
  }

  // The tree is the old one or the new one, exactly.
  void expectOldOrNew(const Devices& devices, const std::string& what) {
    std::string tree = settledTree(devices.root);
    EXPECT_TRUE(tree == oldTree || tree == newTree) << what << ":\n" << tree;
  }

  std::string oldTree, newTree;
  size_t stopPoints = 0;
};

TEST_P(CommitTransaction, SurvivesAStopAndPowerCutAtEveryChange) {
  for (size_t stop = 1; stop <= stopPoints; ++stop) {
    Devices devices(GetParam());
    devices.faults.crashAt(stop);
    devices.runIt(GetParam());
    devices.faults.loseUnflushedData();
    devices.next();
    expectOldOrNew(devices, "stopped at change " + std::to_string(stop));
  }
  std::cout << "[ stops    ] " << GetParam().name << ": " << stopPoints << " stop points\n";
}

TEST_P(CommitTransaction, FailedWriteOrRenameLosesNothing) {
  for (EnvCall call : {EnvCall::Write, EnvCall::Rename}) {
    Devices counting(GetParam());
    counting.runIt(GetParam());
    for (int error : {ENOSPC, EIO}) {
      for (size_t failing = 1; failing <= counting.faults.calls(call); ++failing) {
        std::string what = "call " + std::to_string(failing) + " failing with " + std::to_string(error);
        Devices devices(GetParam());
        devices.faults.failAt(call, failing, error);
        RunResult result = devices.runIt(GetParam());
        devices.next();
        expectOldOrNew(devices, what + "\n" + result.out);
        if (settledTree(devices.root) == oldTree) {
          EXPECT_NE(result.status, 0) << what;
          EXPECT_NE(result.out.find("ERROR: "), std::string::npos) << what << ": " << result.out;
        }
      }
    }
  }
}

std::string transactionName(const testing::TestParamInfo<Transaction>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Runs, CommitTransaction, testing::ValuesIn(transactions), transactionName);

}  // namespace
}  // namespace installer
