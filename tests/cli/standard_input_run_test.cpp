// End-to-end runs of `installer -r ROOT -`: a package stream on standard
// input, installed into a throw-away device root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "support/chroot_runner.h"
#include "support/process_runner.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

using ::testing::HasSubstr;

constexpr PackageVersion v1 = makeVersion(1, 0, Final, 0);
constexpr PackageVersion v2 = makeVersion(2, 0, Final, 0);
const std::string v1Text = std::to_string(v1);
const std::string v2Text = std::to_string(v2);

// The paths in a tree, one per line, without "/flash/postlog".
std::set<std::string> pathsIn(const TempRoot& root) {
  std::set<std::string> result;
  std::istringstream lines(treeWithoutPostlog(root));
  std::string line;
  while (std::getline(lines, line)) result.insert(line.substr(0, line.find(' ')));
  return result;
}

mode_t permissionsOf(const TempRoot& root, const std::string& path) {
  struct stat info;
  if (stat(root.at(path).c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

class StandardInputRun : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    prepareDeviceRoot(root);
  }

  ProcessResult install(const std::string& stream, const std::vector<std::string>& options = {},
                        const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    std::vector<std::string> arguments = {"-r", root.path()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back("-");
    return runInstaller(arguments, stream, environment);
  }

  // Runs a stream that must be refused and checks that nothing but the
  // post-run log changed, and that the log holds exactly `messages`.
  void expectRefused(const std::string& stream, int exitStatus, const std::vector<std::string>& messages) {
    root.writeFile("/flash/postlog", "");
    std::string before = treeWithoutPostlog(root);
    ProcessResult result = install(stream);
    EXPECT_EQ(result.exitStatus, exitStatus);
    std::string log;
    for (const std::string& message : messages) {
      EXPECT_THAT(result.out, HasSubstr(message + "\n"));
      log += message + "\n";
    }
    EXPECT_EQ(treeWithoutPostlog(root), before);
    EXPECT_EQ(root.readFile("/flash/postlog"), log);
  }

  TempRoot root;
};

PackageRecipe helloSpec(PackageVersion version) {
  return packageRecipe("hello", version,
                     {fileEntry("bin/hello", "hello " + std::to_string(version) + "\n", 0100755),
                      fileEntry("/etc/hello.conf", "greeting=1\n")});
}

TEST_F(StandardInputRun, InstallsFilesAndDatabaseRecord) {
  ProcessResult result = install(signedPackage(helloSpec(v1)));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "hello " + v1Text + "\n");
  EXPECT_EQ(permissionsOf(root, "/flash/bin/hello"), 0755u);
  EXPECT_EQ(root.readFile("/flash/etc/hello.conf"), "greeting=1\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/hello/version"), v1Text + " 1700000000\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/hello/deps"), "");
  EXPECT_EQ(root.readFile("/flash/var/pdb/hello/files"), "bin/hello\netc/hello.conf\n");
  EXPECT_EQ(root.readFile("/flash/PCKGS_CHANGED"), "");
  // No squashfs image: the copy of the stream is not kept, and no temporary
  // file is left anywhere.
  std::set<std::string> expected = {"/flash",
                                    "/flash/PCKGS_CHANGED",
                                    "/flash/bin",
                                    "/flash/bin/hello",
                                    "/flash/etc",
                                    "/flash/etc/hello.conf",
                                    "/flash/var",
                                    "/flash/var/pdb",
                                    "/flash/var/pdb/hello",
                                    "/flash/var/pdb/hello/deps",
                                    "/flash/var/pdb/hello/files",
                                    "/flash/var/pdb/hello/version",
                                    "/ram",
                                    "/rw",
                                    "/tmp"};
  EXPECT_EQ(pathsIn(root), expected);
}

TEST_F(StandardInputRun, SafeOptionDoesNotDeferAStandardInputInstall) {
  ProcessResult result = install(signedPackage(helloSpec(v1)), {"--safe"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "hello " + v1Text + "\n");
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
}

TEST_F(StandardInputRun, InputThatIsNoPackageChangesNothing) {
  std::string before = describeTree(root.path());
  for (const std::string& input : {std::string(), std::string("not a package at all\n")}) {
    ProcessResult result = install(input, {"-q"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(describeTree(root.path()), before);
  }
}

TEST_F(StandardInputRun, UpgradeRemovesFilesOfTheOlderVersion) {
  installByMetaFiles(root, "hello", v1, {"bin/hello", "bin/obsolete"});
  ProcessResult result = install(signedPackage(packageRecipe("hello", v2, {fileEntry("bin/hello", "new\n")})));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "new\n");
  EXPECT_FALSE(root.exists("/flash/bin/obsolete"));
  EXPECT_EQ(root.readFile("/flash/var/pdb/hello/version"), v2Text + " 1700000000\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/hello/files"), "bin/hello\n");
}

TEST_F(StandardInputRun, SamePackageAgainIsAlreadyInstalledOrReinstalled) {
  std::string stream = signedPackage(helloSpec(v1));
  ASSERT_EQ(install(stream).exitStatus, 0);
  std::string installed = treeWithoutPostlog(root);

  ProcessResult plain = install(stream);
  EXPECT_EQ(plain.exitStatus, 0);
  EXPECT_THAT(plain.out, HasSubstr("WARNING: omitting package hello-1.0: it is already installed\n"));
  EXPECT_EQ(treeWithoutPostlog(root), installed);

  ProcessResult again = install(stream, {"--reinstall"});
  EXPECT_EQ(again.exitStatus, 0);
  EXPECT_THAT(again.out, HasSubstr("\x1b[?25hinstalled hello-1.0\n"));
  EXPECT_THAT(again.out, ::testing::Not(HasSubstr("WARNING")));
  EXPECT_EQ(treeWithoutPostlog(root), installed);
}

TEST_F(StandardInputRun, EqualPackageWithBadSignatureIsBroken) {
  std::string stream = signedPackage(helloSpec(v1));
  ASSERT_EQ(install(stream).exitStatus, 0);
  expectRefused(buildPackage(helloSpec(v1)), 1,
                {"WARNING: omitting package hello-1.0: it is already installed",
                 "ERROR: installation of hello-1.0 failed: broken package"});
}

TEST_F(StandardInputRun, OlderPackageIsRefused) {
  installByMetaFiles(root, "hello", v2, {"bin/hello"});
  expectRefused(signedPackage(helloSpec(v1)), 1,
                {"WARNING: omitting package hello-1.0: newer package hello-2.0 is already installed"});
}

TEST_F(StandardInputRun, MissingDependencyIsRefused) {
  PackageRecipe app = packageRecipe("app", v1, {fileEntry("bin/app", "app\n")});
  app.deps = std::vector<DependencyRef>{{"lib", v1, 0, 0}};
  expectRefused(signedPackage(app), 1, {"ERROR: can not install app-1.0: lib-1.0 is not installed, but is required"});
}

TEST_F(StandardInputRun, ConflictingPackageIsInstalledDisabled) {
  // The installed package excludes the new one.
  installByMetaFiles(root, "first", v1, {"bin/first"});
  root.writeFile("/flash/var/pdb/first/conflicts", "second 0 0\n");
  ProcessResult result = install(signedPackage(packageRecipe("second", v1, {fileEntry("bin/second", "2\n")})));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_THAT(result.out, ::testing::Not(HasSubstr("ERROR")));
  EXPECT_EQ(root.readFile("/flash/x/second/bin/second"), "2\n");
  EXPECT_FALSE(root.exists("/flash/bin/second"));
  EXPECT_EQ(root.readFile("/flash/var/pdb/second/disabled"), "auto\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/second/files"), "x/second/bin/second\n");
  EXPECT_EQ(root.readFile("/flash/bin/first"), "old bin/first\n");
  EXPECT_FALSE(root.exists("/flash/var/pdb/first/disabled"));
}

// Damaged streams, each over an installed older version whose removal the
// run stages before it finds the damage.
class BrokenStream : public StandardInputRun {
 protected:
  void SetUp() override {
    StandardInputRun::SetUp();
    if (IsSkipped()) return;
    installByMetaFiles(root, "hello", v1, {"bin/hello"});
    good = signedPackage(helloSpec(v2));
  }
  void expectBroken(const std::string& stream) {
    expectRefused(stream, 1, {"ERROR: installation of hello-2.0 failed: broken package"});
  }
  std::string good;
};

TEST_F(BrokenStream, SignatureThatDoesNotVerify) { expectBroken(buildPackage(helloSpec(v2))); }

TEST_F(BrokenStream, NoSignaturePart) {
  PackageRecipe spec = helloSpec(v2);
  spec.withSignature = false;
  expectBroken(signedPackage(spec));
}

TEST_F(BrokenStream, StreamCutShort) {
  PackageWriter probe;
  appendPackage(probe, helloSpec(v2), developmentSigner());
  // In the files, just before the signature, in the signature, and just
  // after it (the file header still counts the missing bytes).
  const WrittenPart& signature = probe.parts().back();
  for (size_t cut : {good.size() / 2, signature.headerOffset, signature.headerOffset + 40, good.size() - 1}) {
    SCOPED_TRACE(cut);
    expectBroken(good.substr(0, cut));
  }
}

TEST_F(BrokenStream, StreamCutShortInsideTheSquashfsImage) {
  PackageRecipe spec = helloSpec(v2);
  spec.squashfsImage = std::string(10000, 'i');
  PackageWriter writer;
  appendPackage(writer, spec, developmentSigner());
  size_t image = 0;
  for (const WrittenPart& part : writer.parts()) {
    if (part.type == SquashfsImage) image = part.headerOffset;
  }
  ASSERT_NE(image, 0u);
  expectBroken(writer.bytes().substr(0, image + 6 + 5000));
}

TEST_F(BrokenStream, SecondPackageAfterStandAlonePackage) {
  PackageWriter writer;
  appendPackage(writer, helloSpec(v2), developmentSigner());
  appendPackage(writer, packageRecipe("other", v1), developmentSigner());
  expectBroken(writer.bytes());
}

TEST_F(BrokenStream, NonEmptyDependencyPartAfterSignature) {
  PackageWriter writer;
  appendPackage(writer, helloSpec(v2), developmentSigner());
  writer.addPart(Dependencies, encodeDependencyList({{"x", 0, 0, 0}}));
  expectBroken(writer.bytes());
}

TEST_F(BrokenStream, LengthFieldThatDoesNotMatchTheStream) {
  for (int delta : {-1, 1, 6}) {
    SCOPED_TRACE(delta);
    PackageWriter writer;
    appendPackage(writer, helloSpec(v2), developmentSigner());
    writer.setLengthField(static_cast<uint32_t>(good.size() - 8 + delta));
    expectBroken(writer.bytes());
  }
}

TEST_F(BrokenStream, StrayBytesAfterTheLastPart) {
  for (size_t stray : {1, 5}) {
    SCOPED_TRACE(stray);
    PackageWriter writer;
    appendPackage(writer, helloSpec(v2), developmentSigner());
    writer.addRaw(std::string(stray, '\x01'));
    // Whether or not the file header counts them.
    expectBroken(writer.bytes());
    writer.setLengthField(static_cast<uint32_t>(good.size() - 8));
    expectBroken(writer.bytes());
  }
}

TEST_F(StandardInputRun, TrailingArchitectureAndEmptyDependencyPartsAreAccepted) {
  PackageWriter writer;
  appendPackage(writer, helloSpec(v1), developmentSigner());
  writer.addPart(Architecture, "i386");
  writer.addPart(Dependencies, "");
  ProcessResult result = install(writer.bytes());
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "hello " + v1Text + "\n");
}

PackageRecipe bootSpec() {
  PackageRecipe spec = packageRecipe("kernel", v1, {fileEntry("boot/vmlinux", "kernel bits\n")});
  spec.headerFlags = 1;
  spec.squashfsImage = std::string(5000, 's');
  return spec;
}

TEST_F(StandardInputRun, BootImagePackageWithBootimageSetBecomesTheBootImage) {
  std::string stream = signedPackage(bootSpec());
  ProcessResult result = install(stream, {}, {{"bootimage", "1"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bootimage"), stream);
  char target[256] = {};
  ASSERT_GT(readlink(root.at("/flash/var/pdb/kernel/image").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "/flash/bootimage");
  EXPECT_FALSE(root.exists("/flash/boot/vmlinux"));
  EXPECT_TRUE(root.exists("/flash/UPGRADED"));
  // A package with an image gets its state files only.
  EXPECT_FALSE(root.exists("/flash/var/pdb/kernel/version"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
}

TEST_F(StandardInputRun, BootImagePackageWithoutBootimageKeepsImageInDatabase) {
  std::string stream = signedPackage(bootSpec());
  ProcessResult result = install(stream, {}, {{"bootimage", "\x01unset"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/var/pdb/kernel/image"), stream);
  EXPECT_EQ(root.readFile("/flash/boot/vmlinux"), "kernel bits\n");
  EXPECT_FALSE(root.exists("/flash/bootimage"));
  EXPECT_TRUE(root.exists("/flash/UPGRADED"));
}

TEST_F(StandardInputRun, UnrecordedPackageInstallsFilesOnly) {
  FileRecipe unrecorded;
  unrecorded.magic = UnrecordedPackageMagic;
  ProcessResult result = install(signedPackage(helloSpec(v1), unrecorded));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "hello " + v1Text + "\n");
  EXPECT_FALSE(root.exists("/flash/var/pdb/hello"));
  EXPECT_TRUE(root.exists("/flash/PCKGS_CHANGED"));
}

TEST_F(StandardInputRun, ImageThatCannotBeOpenedCancelsStagedWork) {
  // "image" is a directory, so the image file cannot be opened. The run has
  // already staged the pending disable of "sched" (a temporary file), which
  // must be removed again.
  installByMetaFiles(root, "sched", v1, {"bin/sched"});
  installByMetaFiles(root, "keep", v1, {"bin/keep"});
  root.writeFile("/ram/pdb/sched/schedule", "disable\n");
  root.makeDirs("/flash/var/pdb/image");
  std::string before = describeTree(root.path());
  ProcessResult result = install(signedPackage(helloSpec(v1)));
  EXPECT_EQ(result.exitStatus, 255);
  EXPECT_THAT(result.out, HasSubstr("ERROR: could not open image\n"));
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(StandardInputRun, ImageThatCannotBeWrittenFailsTheRun) {
  root.makeDirs("/dev");
  if (mknod(root.at("/dev/full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make a /dev/full node here";
  }
  ASSERT_EQ(symlink("/dev/full", root.at("/flash/var/pdb/image").c_str()), 0);
  std::string before = describeTree(root.path());
  ProcessResult result = install(signedPackage(helloSpec(v1)));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_THAT(result.out, HasSubstr("ERROR: installation of hello-1.0 failed: disk is too small\n"));
  EXPECT_FALSE(root.exists("/flash/bin/hello"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
  std::string expected = before;
  expected.erase(expected.find("/flash/var/pdb/image link"),
                 std::string("/flash/var/pdb/image link /dev/full 777\n").size());
  EXPECT_EQ(treeWithoutPostlog(root), expected);
}

TEST_F(StandardInputRun, FailedCommitStepGivesExitStatusOne) {
  // A non-empty directory where the file is to go: its rename fails.
  root.writeFile("/flash/bin/hello/inside", "x");
  ProcessResult result = install(signedPackage(helloSpec(v1)));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_THAT(result.err, HasSubstr("rename"));
  EXPECT_EQ(root.readFile("/flash/etc/hello.conf"), "greeting=1\n");
}

// A device root whose "/flash" is read-only apart from the database and
// "/flash/bin", so that markers directly in "/flash" cannot be made.
class ReadOnlyFlash : public StandardInputRun {
 protected:
  void SetUp() override {
    StandardInputRun::SetUp();
    if (IsSkipped()) return;
    if (mount("none", root.at("/flash").c_str(), "tmpfs", 0, "size=4m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    mounted.push_back(root.at("/flash"));
    for (const char* dir : {"/flash/var/pdb", "/flash/bin", "/flash/boot"}) {
      root.makeDirs(dir);
      ASSERT_EQ(mount("none", root.at(dir).c_str(), "tmpfs", 0, "size=4m"), 0);
      mounted.push_back(root.at(dir));
    }
    ASSERT_EQ(mount("none", root.at("/flash").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  }
  void TearDown() override {
    for (auto it = mounted.rbegin(); it != mounted.rend(); ++it) umount(it->c_str());
  }
  std::vector<std::string> mounted;
};

TEST_F(ReadOnlyFlash, MarkerThatCannotBeCreatedFailsThePackage) {
  PackageRecipe spec = packageRecipe("kernel", v1, {fileEntry("boot/vmlinux", "k\n")});
  spec.headerFlags = 1;
  std::string before = describeTree(root.path());
  ProcessResult result = install(signedPackage(spec));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_THAT(result.out, HasSubstr("ERROR: installation of kernel-1.0 failed: could not create /flash/UPGRADED: "
                                    "Read-only file system\n"));
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(ReadOnlyFlash, PackagesChangedMarkerThatCannotBeCreatedCancelsTheRun) {
  std::string before = describeTree(root.path());
  ProcessResult result = install(signedPackage(packageRecipe("tool", v1, {fileEntry("bin/tool", "t\n")})));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_THAT(result.out, HasSubstr("ERROR: installation of tool-1.0 failed: could not create /flash/PCKGS_CHANGED: "
                                    "Read-only file system\n"));
  // The post-run log cannot be written on a read-only "/flash" either.
  EXPECT_EQ(describeTree(root.path()), before);
}

// Bundles on standard input. With no user choices, every member that the
// bundle's member list names starts disabled.
BundleRecipe suiteSpec(PackageVersion version, const std::vector<std::string>& members, bool listed, bool image) {
  BundleRecipe spec;
  spec.name = "suite";
  spec.version = version;
  spec.buildTime = 1700000000;
  if (image) spec.squashfsImage = std::string(3000, 'q');
  std::vector<DependencyRef> list;
  for (const std::string& name : members) {
    spec.packages.push_back(packageRecipe(name, version, {fileEntry("bin/" + name, name + "\n")}));
    list.push_back({name, 0, 0, 0});
  }
  if (listed) spec.members = list;
  return spec;
}

TEST_F(StandardInputRun, BundleMembersNamedInTheListStartDisabled) {
  ProcessResult result = install(signedBundle(suiteSpec(v1, {"one", "two"}, true, false)));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/x/one/bin/one"), "one\n");
  EXPECT_EQ(root.readFile("/flash/x/two/bin/two"), "two\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/one/disabled"), "auto\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/one/bundle"), "suite\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/suite/version"), v1Text + " 1700000000\n");
  EXPECT_FALSE(root.exists("/flash/var/pdb/suite/files"));
  // Without a squashfs image the stream is not kept.
  EXPECT_FALSE(root.exists("/flash/var/pdb/suite/image"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/image"));
}

TEST_F(StandardInputRun, BundleWithoutMemberListInstallsMembersEnabled) {
  ProcessResult result = install(signedBundle(suiteSpec(v1, {"one", "two"}, false, false)));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/one"), "one\n");
  EXPECT_EQ(root.readFile("/flash/bin/two"), "two\n");
  EXPECT_FALSE(root.exists("/flash/var/pdb/one/disabled"));
}

TEST_F(StandardInputRun, NewBundleVersionUninstallsMembersItNoLongerCarries) {
  std::string first = signedBundle(suiteSpec(v1, {"one", "two"}, false, true));
  ASSERT_EQ(install(first).exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/var/pdb/suite/image"), first);
  ASSERT_TRUE(root.exists("/flash/var/pdb/two/version"));

  std::string second = signedBundle(suiteSpec(v2, {"one"}, false, true));
  ProcessResult result = install(second);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/var/pdb/suite/image"), second);
  EXPECT_EQ(root.readFile("/flash/var/pdb/one/version"), v2Text + " 1700000000\n");
  EXPECT_FALSE(root.exists("/flash/var/pdb/two"));
  // Records loaded from a bundle image list no files: the member's files
  // stay on flash.
  EXPECT_TRUE(root.exists("/flash/bin/two"));
}

TEST_F(StandardInputRun, BundleWithoutMembersGivesThreeAndCommitsNothing) {
  std::string before = describeTree(root.path());
  ProcessResult result = install(signedBundle(suiteSpec(v1, {}, false, false)), {"-q"});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(StandardInputRun, BundleFollowedByAnotherPartGivesTwoAndCommitsNothing) {
  PackageWriter writer;
  BundleRecipe spec = suiteSpec(v1, {"one"}, false, false);
  writer.addPart(BundleHeader, encodeHeaderRecord("suite", v1, 1700000000, std::nullopt));
  appendPackage(writer, spec.packages[0], developmentSigner());
  writer.addPart(Dependencies, encodeDependencyList({}));
  std::string before = describeTree(root.path());
  ProcessResult result = install(writer.bytes(), {"-q"});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(StandardInputRun, BundleWithTrailingArchitecturePartIsAccepted) {
  FileRecipe file;
  file.trailingArchitecture = "i386";
  ProcessResult result = install(signedBundle(suiteSpec(v1, {"one"}, false, false), file));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/one"), "one\n");
}

TEST_F(StandardInputRun, BundleWithBrokenMemberGivesTwoAndCommitsNothing) {
  BundleRecipe spec = suiteSpec(v1, {"one", "two"}, false, false);
  SignatureCallback signer = developmentSigner();
  int signatures = 0;
  std::string stream = buildBundle(spec, [&](const uint8_t* digest, bool sha256) {
    // The second member's Ed25519 signature is wrong.
    std::string signature = signer(digest, sha256);
    if (++signatures == 2) signature[100] ^= 1;
    return signature;
  });
  std::string before = describeTree(root.path());
  ProcessResult result = install(stream);
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_THAT(result.out, HasSubstr("ERROR: installation of suite-1.0 failed: broken package\n"));
  EXPECT_EQ(treeWithoutPostlog(root), before);
}

}  // namespace
