#include "package/package_signature.h"

#include <gtest/gtest.h>

#include "key_file.h"
#include "package/package_header.h"
#include "package_signer.h"
#include "platform/device_paths.h"
#include "support/package_streams.h"
#include "support/router_device.h"

namespace installer {
namespace {

const PackageVersion inWindow = 0x062E6608;  // 6.46.8, the last of the first legacy window
const PackageVersion outside = 0x07016204;   // 7.1beta4, the first after the last one

// Builds a package signed with the development keys, its part 9 `length`
// bytes long (the signature padded with 0x55 or cut) and one signature byte
// spoiled; reads it as the install run does and verifies it with the
// compiled-in keys: the verdict and the bytes of part 9 left for nextPart().
std::string verify(Env& env, SignatureKind kind, PackageVersion version, uint32_t length = 0, size_t spoiled = 999,
                   const std::string& name = "tool", bool hashing = true) {
  PackageRecipe recipe = packageRecipe(name, version, {fileEntry("bin/tool", "#!/bin/sh\n", 0100755)});
  recipe.signatureLength = length != 0 ? length : signatureLengthOf(kind);
  static SigningKeys keys;
  static bool loaded = readKeyFile(developmentKeyFile(), keys).isOk();
  PackageSigner signer(keys, kind);
  std::string bytes = buildPackage(recipe, [&](const uint8_t* digest, bool sha256) {
    std::string signature = signer.callback()(digest, sha256);
    signature.resize(recipe.signatureLength, '\x55');
    if (spoiled < signature.size()) signature[spoiled] ^= 1;
    return signature;
  });
  OpenedStream opened(bytes, {1, 16, 3, 19, 17, 21, 4, 9}, hashing);
  PackageInfo record;
  if (!loaded || !readPackageHeader(record, opened.stream) || opened.stream.nextPart() != Signature) return "unread";
  bool accepted = verifyPackageSignature(env, opened.stream, record);
  return std::string(accepted ? "accepted" : "refused") + " left " + std::to_string(opened.stream.remaining());
}

TEST(VerifyPackageSignature, VerdictsAndLegacyWindows) {
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& env = *device;
  EXPECT_EQ(verify(env, SignatureKind::Ed25519, 0x07056603), "accepted left 0");
  EXPECT_EQ(verify(env, SignatureKind::Legacy, inWindow), "accepted left 0");
  EXPECT_EQ(verify(env, SignatureKind::Legacy, outside), "refused left 0");
  EXPECT_EQ(verify(env, SignatureKind::Legacy, outside, 0, 999, "branding"), "accepted left 0");
  EXPECT_EQ(verify(env, SignatureKind::Legacy, inWindow, 100), "accepted left 32");
  EXPECT_EQ(verify(env, SignatureKind::Legacy, inWindow, 67), "refused left 67");
  EXPECT_EQ(verify(env, SignatureKind::Ed25519, inWindow, 0, 999, "tool", false), "refused left 132") << "no digest";
  EXPECT_EQ(verify(env, SignatureKind::Both, inWindow, 0, 100), "accepted left 0") << "bad Ed25519, good legacy half";
  PackageInfo tool("tool"), branding("branding");
  std::string verdicts;  // "+": a legacy signature may be accepted, "b": for branding only
  for (PackageVersion version : {0x0u, 0x062E6608u, 0x062E6609u, 0x062F0000u, 0x06306600u, 0x06306601u, 0x07000000u,
                                 0x07016203u, 0x07016204u, 0xFFFFFFFFu}) {
    tool.version = branding.version = version;
    verdicts += legacyAllowed(env, tool) ? "+" : legacyAllowed(env, branding) ? "b" : "-";
  }
  EXPECT_EQ(verdicts, "++b++b++bb");
  ASSERT_TRUE(env.addFile(paths::secureMarker, ""));
  EXPECT_EQ(verify(env, SignatureKind::Legacy, inWindow, 0, 999, "branding"), "refused left 0");
}

}  // namespace
}  // namespace installer
