// A signed stand-alone package with any one byte changed, from its file
// header through the signature bytes that the check relies on, is refused
// on standard input and nothing on flash changes.
#include <gtest/gtest.h>

#include "support/chroot_runner.h"
#include "support/process_runner.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

constexpr PackageVersion v1 = makeVersion(1, 0, Final, 0);
constexpr PackageVersion v2 = makeVersion(2, 0, Final, 0);
// The 132-byte signature part: legacy signature in bytes 0..67, Ed25519
// signature in 68..131. When the Ed25519 half verifies, the legacy half is
// not looked at.
constexpr size_t legacyLength = 68;
constexpr size_t signatureLength = 132;

struct SignedPackage {
  std::string bytes;
  size_t signaturePayload = 0;  // offset of part 9's payload
};

SignedPackage smallPackage() {
  PackageWriter writer;
  appendPackage(writer, packageRecipe("tiny", v2, {fileEntry("bin/tiny", "t\n")}), developmentSigner());
  SignedPackage package;
  package.bytes = writer.bytes();
  package.signaturePayload = writer.parts().back().headerOffset + PartHeaderSize;
  return package;
}

class TamperedPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    prepareDeviceRoot(root);
    installByMetaFiles(root, "tiny", v1, {"bin/tiny"});
  }
  ProcessResult install(const std::string& stream) { return runInstaller({"-q", "-r", root.path(), "-"}, stream); }
  TempRoot root;
};

TEST_F(TamperedPackage, EveryCoveredByteIsChecked) {
  SignedPackage package = smallPackage();
  ASSERT_EQ(package.bytes.size(), package.signaturePayload + signatureLength);
  std::string before = describeTree(root.path());
  for (size_t offset = 0; offset < package.bytes.size(); ++offset) {
    size_t inSignature = offset - package.signaturePayload;
    if (offset >= package.signaturePayload && inSignature < legacyLength) continue;
    std::string tampered = package.bytes;
    tampered[offset] = static_cast<char>(tampered[offset] ^ 0xFF);
    ProcessResult result = install(tampered);
    EXPECT_NE(result.exitStatus, 0) << "byte " << offset;
    ASSERT_EQ(describeTree(root.path()), before) << "byte " << offset;
  }
  // The package itself is fine.
  EXPECT_EQ(install(package.bytes).exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/tiny"), "t\n");
}

TEST_F(TamperedPackage, LegacyHalfIsNotCheckedWhenEd25519Verifies) {
  SignedPackage package = smallPackage();
  package.bytes[package.signaturePayload + 30] ^= 0x55;
  EXPECT_EQ(install(package.bytes).exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/bin/tiny"), "t\n");
}

}  // namespace
