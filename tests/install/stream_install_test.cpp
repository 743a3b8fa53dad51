// installStream over bundles, inside a throw-away root.
#include "install/stream_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "support/chroot_runner.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

constexpr PackageVersion v1 = makeVersion(1, 0, Final, 0);
constexpr PackageVersion v2 = makeVersion(2, 0, Final, 0);
constexpr uint32_t runFlags = 1;  // Upgrade

InstallerState& freshState() {
  InstallerState& state = InstallerState::instance();
  state.packages.clear();
  state.messages.clear();
  state.statusLine.clear();
  state.architecture = "i386";
  state.quiet = false;
  return state;
}

InstalledPackage& addRecord(InstallerState& state, const std::string& name, PackageVersion version,
                            const std::string& bundle = std::string()) {
  state.packages.push_back(std::make_unique<InstalledPackage>(name));
  InstalledPackage& record = *state.packages.back();
  record.version = version;
  record.buildTime = 1700000000;
  if (!bundle.empty()) record.bundle = DependencyRef{bundle, version, version, 0};
  return record;
}

int runStream(InstallerState& state, StagedFiles& staged, const std::string& bytes,
              const std::map<std::string, uint8_t>& choices = {}, bool* boot = nullptr) {
  std::istringstream input(bytes);
  return installStream(state, staged, input, runFlags, choices, nullptr, nullptr, boot);
}

BundleRecipe suite(PackageVersion version, const std::vector<std::string>& members, bool listed) {
  BundleRecipe spec;
  spec.name = "suite";
  spec.version = version;
  spec.buildTime = 1700000000;
  std::vector<DependencyRef> list;
  for (const std::string& name : members) {
    spec.packages.push_back(packageRecipe(name, version, {fileEntry("bin/" + name, name + "\n")}));
    list.push_back({name, 0, 0, 0});
  }
  if (listed) spec.members = list;
  return spec;
}

class StreamInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    prepareDeviceRoot(root);
  }
  TempRoot root;
};

TEST_F(StreamInstall, UserChoicesDecideTheStateOfListedMembers) {
  std::string bytes = signedBundle(suite(v1, {"a", "b", "c"}, true));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes, {{"a", 1}, {"b", 0}}), 0);
    InstalledPackage* a = findByName(state, "a");
    InstalledPackage* b = findByName(state, "b");
    InstalledPackage* c = findByName(state, "c");
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(a->disabled && a->byUser);
    EXPECT_TRUE(!b->disabled && b->byUser);
    EXPECT_TRUE(c->disabled && !c->byUser);
    EXPECT_EQ(a->bundle.name, "suite");
    EXPECT_EQ(a->bundle.min, v1);
    // One nameless record holds c back, for the rest of the process.
    InstalledPackage* guard = findByName(state, "");
    ASSERT_NE(guard, nullptr);
    ASSERT_EQ(guard->conflicts.size(), 1u);
    EXPECT_EQ(guard->conflicts[0].name, "c");
    EXPECT_NE(staged.find("/flash/x/c/bin/c"), nullptr);
    EXPECT_NE(staged.find("/flash/bin/b"), nullptr);
    cancelStaged(staged);
  });
}

TEST_F(StreamInstall, MembersTheNewVersionDropsAreUninstalled) {
  root.makeDirs("/flash/var/pdb/c");
  std::string bytes = signedBundle(suite(v2, {"a", "b"}, false));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    addRecord(state, "a", v1, "suite");
    addRecord(state, "b", v1, "suite");
    addRecord(state, "c", v1, "suite");
    addRecord(state, "suite", v1).isBundle = true;
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes), 0);
    EXPECT_EQ(findByName(state, "c"), nullptr);
    const StagedOp* removal = staged.find("/flash/var/pdb/c/");
    ASSERT_NE(removal, nullptr);
    EXPECT_EQ(removal->kind, StagedKind::Delete);
    ASSERT_NE(findByName(state, "a"), nullptr);
    EXPECT_EQ(findByName(state, "a")->version, v2);
    EXPECT_EQ(findByName(state, "suite")->version, v2);
    cancelStaged(staged);
  });
}

TEST_F(StreamInstall, BundleWithRelationsIsGivenUpBeforeAnythingIsStaged) {
  PackageWriter writer;
  writer.addPart(BundleHeader, encodeHeaderRecord("suite", v1, 1700000000, std::nullopt));
  writer.addPart(Dependencies, encodeDependencyList({{"x", 0, 0, 0}}));
  appendPackage(writer, packageRecipe("a", v1), developmentSigner());
  std::string bytes = writer.bytes();
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes), 1);
    EXPECT_TRUE(staged.empty());
    EXPECT_TRUE(state.packages.empty());
  });
}

// Every listed member becomes a record that is weighed against every other
// one whenever states are settled: a list of thousands would stall the run.
TEST_F(StreamInstall, MemberListLongerThanAnyBundleCarriesIsRefused) {
  std::vector<std::string> bytes;
  for (size_t listed : {MaxBundleMembers, MaxBundleMembers + 1}) {
    BundleRecipe spec = suite(v1, {"a"}, true);
    for (size_t i = 1; i < listed; ++i) spec.members->push_back({"m" + std::to_string(i), 0, 0, 0});
    bytes.push_back(signedBundle(spec));
  }
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes[0]), 0);
    EXPECT_EQ(state.packages.size(), 2 + MaxBundleMembers);
    cancelStaged(staged);

    InstallerState& again = freshState();
    EXPECT_EQ(runStream(again, staged, bytes[1]), 1);
    EXPECT_EQ(findByName(again, ""), nullptr);
    EXPECT_EQ(findByName(again, "a"), nullptr);
    cancelStaged(staged);
  });
}

TEST_F(StreamInstall, SameBundleVersionIsRefusedWithTwo) {
  std::string bytes = signedBundle(suite(v1, {"a"}, false));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    addRecord(state, "suite", v1).isBundle = true;
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes), 2);
    EXPECT_EQ(state.messages, std::vector<std::string>{"WARNING: omitting package suite-1.0: it is already installed"});
    EXPECT_TRUE(staged.empty());
  });
}

TEST_F(StreamInstall, MemberNamedLikeItsBundleFailsTheBundle) {
  std::string bytes = signedBundle(suite(v1, {"suite"}, false));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes), 2);
    cancelStaged(staged);
  });
}

TEST_F(StreamInstall, BundleWithoutMembersGivesThreeAfterStagingItsRecord) {
  std::string bytes = signedBundle(suite(v1, {}, false));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    EXPECT_EQ(runStream(state, staged, bytes), 3);
    EXPECT_NE(staged.find("/flash/var/pdb/suite/version"), nullptr);
    cancelStaged(staged);
  });
}

TEST_F(StreamInstall, BundleThatEndsBeforeOrAfterItsDeclaredLengthGivesTwo) {
  std::string bytes = signedBundle(suite(v1, {"a"}, false));
  std::vector<std::string> streams;
  for (int delta : {-1, 1}) {
    PackageWriter writer;
    writer.addRaw(bytes.substr(8));
    writer.setLengthField(static_cast<uint32_t>(bytes.size() - 8 + delta));
    streams.push_back(writer.bytes());
  }
  streams.push_back(bytes + "\x01\x02");
  runInChroot(root.path(), [&] {
    for (const std::string& stream : streams) {
      InstallerState& state = freshState();
      StagedFiles staged;
      EXPECT_EQ(runStream(state, staged, stream), 2);
      cancelStaged(staged);
    }
  });
}

TEST_F(StreamInstall, MemberNotNeededIsStillVerified) {
  BundleRecipe spec = suite(v1, {"a", "b"}, false);
  std::string good = signedBundle(spec);
  SignatureCallback signer = developmentSigner();
  int signatures = 0;
  std::string badFirst = buildBundle(spec, [&](const uint8_t* digest, bool sha256) {
    std::string signature = signer(digest, sha256);
    if (++signatures == 1) signature[90] ^= 1;
    return signature;
  });
  runInChroot(root.path(), [&] {
    for (const std::string* bytes : {&good, &badFirst}) {
      InstallerState& state = freshState();
      addRecord(state, "a", v1, "suite");  // equal to the member: not needed
      StagedFiles staged;
      int result = runStream(state, staged, *bytes);
      if (bytes == &good) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(staged.find("/flash/bin/a"), nullptr);
        EXPECT_NE(staged.find("/flash/bin/b"), nullptr);
      } else {
        EXPECT_EQ(result, 2);
        EXPECT_EQ(state.messages, std::vector<std::string>{"ERROR: installation of suite-1.0 failed: broken package"});
        EXPECT_EQ(staged.find("/flash/bin/b"), nullptr);
      }
      cancelStaged(staged);
    }
  });
}

TEST_F(StreamInstall, StandAlonePackageGivesZeroOrOne) {
  std::string good = signedPackage(packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    InstalledPackage summary;
    std::istringstream input(good);
    EXPECT_EQ(installStream(state, staged, input, runFlags, {}, nullptr, nullptr, nullptr, &summary), 0);
    EXPECT_EQ(summary.name, "hello");
    EXPECT_EQ(runStream(state, staged, std::string()), 1);
    EXPECT_EQ(runStream(state, staged, good.substr(0, 20)), 1);
    cancelStaged(staged);
  });
}

}  // namespace
