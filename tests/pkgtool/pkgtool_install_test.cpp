// Packages made by the pkgtool program, installed by the installer program:
// the two sides of the format and of both signature schemes agree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "key_file.h"
#include "support/chroot_runner.h"
#include "support/process_runner.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

class PkgtoolInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    TrustKeys development;
    std::string error;
    ASSERT_TRUE(readTrustFile(SOURCE_DIR "/keys/development.trust", development, error)) << error;
    if (std::memcmp(development.ed25519Key, compiledTrustKeys().ed25519Key, 32) != 0) {
      GTEST_SKIP() << "the installer was built with another trust file than keys/development.trust";
    }
    prepareDeviceRoot(root);
    work.writeFile("/tree/bin/hello", "echo hello\n", 0755);
    work.writeFile("/tree/etc/hello.conf", "greeting=1\n", 0644);
  }

  // Builds with pkgtool and installs with `installer -r ROOT -`.
  ProcessResult buildAndInstall(const std::vector<std::string>& settings) {
    std::vector<std::string> arguments = {
        "build",  "-o",    work.at("/p.kmp"), "--key",         SOURCE_DIR "/keys/development.key",
        "--name", "hello", "--files",         work.at("/tree")};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    ProcessResult build = runProcess(PKGTOOL_BINARY, arguments);
    EXPECT_EQ(build.exitStatus, 0) << build.err;
    return runInstaller({"-r", root.path(), "-"}, work.readFile("/p.kmp"));
  }

  TempRoot root;
  TempRoot work;
};

TEST_F(PkgtoolInstall, Ed25519PackageIsInstalled) {
  ProcessResult result = buildAndInstall({"--version", "7.5.1"});
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "echo hello\n");
  EXPECT_EQ(root.readFile("/flash/etc/hello.conf"), "greeting=1\n");
}

TEST_F(PkgtoolInstall, LegacyPackageIsInstalledOnlyInItsWindow) {
  ProcessResult old = buildAndInstall({"--version", "6.46.8", "--digest", "sha1", "--signature", "legacy"});
  EXPECT_EQ(old.exitStatus, 0) << old.out;
  EXPECT_EQ(root.readFile("/flash/bin/hello"), "echo hello\n");
  ProcessResult late = buildAndInstall({"--version", "7.1beta4", "--digest", "sha1", "--signature", "legacy"});
  EXPECT_EQ(late.exitStatus, 1);
  EXPECT_NE(late.out.find("installation of hello-7.1beta4 failed: broken package\n"), std::string::npos) << late.out;
}

TEST_F(PkgtoolInstall, PackageSignedWithAnotherKeyIsRefused) {
  ASSERT_EQ(runProcess(PKGTOOL_BINARY, {"keygen", work.at("/other")}).exitStatus, 0);
  ProcessResult build = runProcess(PKGTOOL_BINARY, {"build", "-o", work.at("/p.kmp"), "--key", work.at("/other.key"),
                                                    "--name", "hello", "--version", "7.5.1", "--signature", "both"});
  ASSERT_EQ(build.exitStatus, 0) << build.err;
  ProcessResult result = runInstaller({"-r", root.path(), "-"}, work.readFile("/p.kmp"));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.out.find("installation of hello-7.5.1 failed: broken package\n"), std::string::npos) << result.out;
}

}  // namespace
