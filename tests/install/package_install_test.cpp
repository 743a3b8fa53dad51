// installPackage and prepareDatabaseDir, run inside a throw-away root so
// that the database's fixed paths point into it.
#include "install/package_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "package/package_format.h"
#include "package/package_stream.h"
#include "support/chroot_runner.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

constexpr PackageVersion v1 = makeVersion(1, 0, Final, 0);
constexpr PackageVersion v2 = makeVersion(2, 0, Final, 0);
constexpr uint32_t runFlags = 1;  // Upgrade
constexpr uint32_t reinstallFlags = 1 | 32;

const std::vector<uint32_t> installRunParts = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};

InstallerState& freshState() {
  InstallerState& state = InstallerState::instance();
  state.packages.clear();
  state.messages.clear();
  state.statusLine.clear();
  state.architecture = "i386";
  state.quiet = false;
  return state;
}

InstalledPackage& addRecord(InstallerState& state, const std::string& name, PackageVersion version) {
  state.packages.push_back(std::make_unique<InstalledPackage>(name));
  InstalledPackage& record = *state.packages.back();
  record.version = version;
  record.buildTime = 1700000000;
  return record;
}

std::string temporaryContents(const StagedFiles& staged, const std::string& path) {
  const StagedOp* op = staged.find(path);
  if (op == nullptr || op->kind != StagedKind::Write) return "<not written>";
  std::ifstream file(op->target, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

// Installs `bytes` as one stand-alone package.
struct OnePackage {
  explicit OnePackage(const std::string& bytes) : input(bytes), stream(input, true, nullptr) {
    stream.wantedTypes = installRunParts;
    static_cast<void>(stream.nextPart());
  }
  InstalledPackage* install(InstallerState& state, StagedFiles& staged, uint32_t mode,
                            const std::map<std::string, uint8_t>& choices = {}, std::string* imageDir = nullptr,
                            bool* bootImage = nullptr) {
    return installPackage(state, staged, stream, mode, choices, nullptr, imageDir, bootImage);
  }
  std::istringstream input;
  PackageStream stream;
};

class PackageInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    prepareDeviceRoot(root);
  }
  TempRoot root;
};

TEST_F(PackageInstall, UserChoiceInstallsDisabledWithUserState) {
  std::string bytes = signedPackage(packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    OnePackage package(bytes);
    InstalledPackage* installed = package.install(state, staged, runFlags, {{"hello", 1}});
    ASSERT_NE(installed, nullptr);
    EXPECT_TRUE(installed->disabled);
    EXPECT_TRUE(installed->byUser);
    EXPECT_EQ(installed->files, std::set<std::string>{"/x/hello/bin/hello"});
    EXPECT_EQ(temporaryContents(staged, "/flash/x/hello/bin/hello"), "hi\n");
    EXPECT_EQ(temporaryContents(staged, "/flash/var/pdb/hello/disabled"), "user\n");
    ASSERT_EQ(state.packages.size(), 1u);
    EXPECT_EQ(state.packages[0].get(), installed);
    cancelStaged(staged);
  });
}

TEST_F(PackageInstall, ChoiceOfEnabledIsKeptAsTheUsers) {
  std::string bytes = signedPackage(packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    OnePackage package(bytes);
    InstalledPackage* installed = package.install(state, staged, runFlags, {{"hello", 0}});
    ASSERT_NE(installed, nullptr);
    EXPECT_FALSE(installed->disabled);
    EXPECT_TRUE(installed->byUser);
    EXPECT_EQ(temporaryContents(staged, "/flash/var/pdb/hello/enabled"), "user\n");
    EXPECT_NE(staged.find("/flash/bin/hello"), nullptr);
    cancelStaged(staged);
  });
}

TEST_F(PackageInstall, ReinstallOfEqualPackageNamesItAndStagesNothing) {
  std::string bytes = signedPackage(packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    InstalledPackage& existing = addRecord(state, "hello", v1);
    existing.disabled = true;
    existing.headerFlags = 1;
    StagedFiles staged;
    OnePackage package(bytes);
    bool boot = false;
    InstalledPackage* result = package.install(state, staged, reinstallFlags, {{"hello", 1}}, nullptr, &boot);
    EXPECT_EQ(result, &existing);
    EXPECT_TRUE(boot);  // the installed record's boot-image bit
    EXPECT_TRUE(staged.empty());
    EXPECT_EQ(state.messages, std::vector<std::string>{"installed (disabled) hello-1.0"});
  });
}

TEST_F(PackageInstall, EqualPackageIsReadToItsEndAndVerified) {
  PackageWriter writer;
  appendPackage(writer, packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}), developmentSigner());
  writer.addPart(Architecture, "i386");
  std::string good = writer.bytes();
  std::string unsigned_ = buildPackage(packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    InstalledPackage& existing = addRecord(state, "hello", v1);
    StagedFiles staged;
    OnePackage intact(good);
    EXPECT_EQ(intact.install(state, staged, reinstallFlags), &existing);
    EXPECT_EQ(intact.stream.currentType, -1);

    OnePackage broken(unsigned_);
    bool boot = false;
    EXPECT_EQ(broken.install(state, staged, reinstallFlags, {}, nullptr, &boot), nullptr);
    EXPECT_FALSE(boot);
    EXPECT_TRUE(staged.empty());
    ASSERT_FALSE(state.messages.empty());
    EXPECT_EQ(state.messages.back(), "ERROR: installation of hello-1.0 failed: broken package");
  });
}

// A trailing part 16 whose length field promises more than arrives: the
// header's length either names the start of its payload (so the bytes that
// did arrive lie beyond it) or the true end of a payload cut short.
TEST_F(PackageInstall, TrailingPartCutShortIsBroken) {
  FileRecipe file;
  file.trailingArchitecture = "x86";
  std::string good = signedPackage(packageRecipe("hello", v1), file);
  size_t partHeader = good.size() - 9;
  std::string longer = good;
  encodeLE32(reinterpret_cast<uint8_t*>(&longer[partHeader + 2]), 100);
  std::string beyondDeclared = longer;
  encodeLE32(reinterpret_cast<uint8_t*>(&beyondDeclared[4]), static_cast<uint32_t>(partHeader + 6 - 8));
  std::string cutShort = longer.substr(0, longer.size() - 3);
  encodeLE32(reinterpret_cast<uint8_t*>(&cutShort[4]), static_cast<uint32_t>(cutShort.size() - 8));
  runInChroot(root.path(), [&] {
    for (const std::string* bytes : {&beyondDeclared, &cutShort}) {
      InstallerState& state = freshState();
      StagedFiles staged;
      OnePackage package(*bytes);
      EXPECT_EQ(package.install(state, staged, runFlags), nullptr);
      EXPECT_TRUE(state.packages.empty());
      EXPECT_EQ(state.messages, std::vector<std::string>{"ERROR: installation of hello-1.0 failed: broken package"});
      cancelStaged(staged);
    }
    InstallerState& state = freshState();
    StagedFiles staged;
    OnePackage intact(good);
    EXPECT_NE(intact.install(state, staged, runFlags), nullptr);
    cancelStaged(staged);
  });
}

TEST_F(PackageInstall, OlderPackageIsRefusedWithoutRecord) {
  std::string bytes = signedPackage(packageRecipe("hello", v1));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    InstalledPackage& existing = addRecord(state, "hello", v2);
    StagedFiles staged;
    OnePackage package(bytes);
    EXPECT_EQ(package.install(state, staged, runFlags), nullptr);
    EXPECT_EQ(state.packages.size(), 1u);
    EXPECT_EQ(state.packages[0].get(), &existing);
    EXPECT_TRUE(staged.empty());
  });
}

TEST_F(PackageInstall, OldSystemMarksConversionEvenWhenRefused) {
  std::string old = signedPackage(packageRecipe("system", 0x06306600));
  std::string current = signedPackage(packageRecipe("system", 0x07016600));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    addRecord(state, "system", makeVersion(9, 0, Final, 0));
    StagedFiles staged;
    struct stat info;
    OnePackage newer(current);
    EXPECT_EQ(newer.install(state, staged, runFlags), nullptr);
    EXPECT_NE(stat("/rw/CONVERT", &info), 0);
    OnePackage older(old);
    EXPECT_EQ(older.install(state, staged, runFlags), nullptr);
    EXPECT_EQ(stat("/rw/CONVERT", &info), 0);
    EXPECT_TRUE(staged.empty());
  });
}

TEST_F(PackageInstall, FileThatCannotBeCreatedLeavesNeitherRecord) {
  root.writeFile("/flash/blocker", "a file where a directory should be");
  std::string bytes =
      signedPackage(packageRecipe("hello", v2, {fileEntry("bin/hello", "hi\n"), fileEntry("blocker/x", "x\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    addRecord(state, "hello", v1);
    StagedFiles staged;
    OnePackage package(bytes);
    EXPECT_EQ(package.install(state, staged, runFlags), nullptr);
    EXPECT_EQ(findByName(state, "hello"), nullptr);
    ASSERT_FALSE(state.messages.empty());
    EXPECT_EQ(state.messages.back(),
              "ERROR: installation of hello-2.0 failed: could not create blocker/x: Not a directory");
    cancelStaged(staged);
  });
}

TEST_F(PackageInstall, BlockedDatabaseDirectoryRefusesThePackage) {
  root.writeFile("/flash/var/pdb/hello", "not a directory");
  std::string bytes = signedPackage(packageRecipe("hello", v1, {fileEntry("bin/hello", "hi\n")}));
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    OnePackage package(bytes);
    EXPECT_EQ(package.install(state, staged, runFlags), nullptr);
    EXPECT_TRUE(state.packages.empty());
    EXPECT_TRUE(staged.empty());
  });
}

TEST_F(PackageInstall, PrepareDatabaseDirReusesADirectoryStagedForRemoval) {
  root.makeDirs("/flash/var/pdb/kept");
  root.writeFile("/flash/var/pdb/file", "");
  runInChroot(root.path(), [&] {
    InstalledPackage kept("kept"), fresh("fresh"), file("file");
    StagedFiles staged;
    EXPECT_TRUE(prepareDatabaseDir(fresh, staged));
    EXPECT_TRUE(prepareDatabaseDir(kept, staged));
    EXPECT_FALSE(prepareDatabaseDir(file, staged));

    stageDelete(staged, "/flash/var/pdb/kept/");
    ASSERT_NE(staged.find("/flash/var/pdb/kept/"), nullptr);
    EXPECT_TRUE(prepareDatabaseDir(kept, staged));
    EXPECT_EQ(staged.find("/flash/var/pdb/kept/"), nullptr);

    stageSymlink(staged, "/elsewhere", "/flash/var/pdb/fresh/");
    EXPECT_FALSE(prepareDatabaseDir(fresh, staged));
    EXPECT_NE(staged.find("/flash/var/pdb/fresh/"), nullptr);
  });
}

TEST_F(PackageInstall, BootImagePackageReportsImageDirectoryAndBootFlag) {
  PackageRecipe spec = packageRecipe("kernel", v1, {fileEntry("boot/vmlinux", "k\n")});
  spec.headerFlags = 1;
  spec.squashfsImage = std::string(9000, 'i');  // more than two steps of the image pass
  std::string bytes = signedPackage(spec);
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    StagedFiles staged;
    {
      setenv("bootimage", "yes", 1);
      OnePackage package(bytes);
      std::string imageDir;
      bool boot = false;
      InstalledPackage* installed = package.install(state, staged, runFlags, {}, &imageDir, &boot);
      ASSERT_NE(installed, nullptr);
      EXPECT_EQ(imageDir, "/flash/var/pdb/kernel/");
      EXPECT_TRUE(boot);
      EXPECT_TRUE(installed->files.empty());
      EXPECT_EQ(staged.find("/flash/boot/vmlinux"), nullptr);
      EXPECT_EQ(temporaryContents(staged, "/flash/UPGRADED"), "");
      EXPECT_EQ(staged.find("/flash/var/pdb/kernel/version"), nullptr);
    }
    {
      unsetenv("bootimage");
      OnePackage package(bytes);
      bool boot = true;
      state.packages.clear();
      InstalledPackage* installed = package.install(state, staged, runFlags, {}, nullptr, &boot);
      ASSERT_NE(installed, nullptr);
      EXPECT_FALSE(boot);
      EXPECT_EQ(temporaryContents(staged, "/flash/boot/vmlinux"), "k\n");
    }
    cancelStaged(staged);
  });
}

TEST_F(PackageInstall, UnrecordedPackageReplacesNothingAndWritesNoRecord) {
  FileRecipe unrecorded;
  unrecorded.magic = UnrecordedPackageMagic;
  std::string bytes = signedPackage(packageRecipe("hello", v2, {fileEntry("bin/hello", "hi\n")}), unrecorded);
  runInChroot(root.path(), [&] {
    InstallerState& state = freshState();
    InstalledPackage& existing = addRecord(state, "hello", v1);
    existing.files.insert("/bin/old");
    StagedFiles staged;
    OnePackage package(bytes);
    InstalledPackage* installed = package.install(state, staged, runFlags);
    ASSERT_NE(installed, nullptr);
    // Both records stand; the old one's files are not touched.
    EXPECT_EQ(state.packages.size(), 2u);
    EXPECT_EQ(existing.files.count("/bin/old"), 1u);
    EXPECT_EQ(temporaryContents(staged, "/flash/bin/hello"), "hi\n");
    for (const auto& entry : staged.entries) EXPECT_EQ(entry.first.rfind("/flash/var/pdb/", 0), std::string::npos);
    cancelStaged(staged);
  });
}

}  // namespace
