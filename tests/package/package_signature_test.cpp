#include "package/package_signature.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <sstream>
#include <string>

#include "key_file.h"
#include "package/package_header.h"
#include "package/package_stream.h"
#include "package_builder.h"
#include "package_signer.h"
#include "platform/device_paths.h"
#include "support/chroot_runner.h"
#include "support/temp_root.h"

namespace {

const SigningKeys& developmentKeys() {
  static SigningKeys keys;
  static bool loaded = false;
  if (!loaded) {
    std::string error;
    loaded = readKeyFile(SOURCE_DIR "/keys/development.key", keys, error);
    EXPECT_TRUE(loaded) << error;
  }
  return keys;
}

PackageRecipe packageRecipe(PackageVersion version, SignatureKind kind, bool sha256 = true) {
  PackageRecipe spec;
  spec.name = "tool";
  spec.version = version;
  spec.buildTime = 1700000000;
  spec.note = "a note to change";
  spec.sha256 = sha256;
  spec.files = {FileEntry{"bin/tool", 0100755, 0, "#!/bin/sh\n"}};
  spec.signatureLength = signatureLengthOf(kind);
  return spec;
}

std::string signedPackage(const PackageRecipe& spec, SignatureKind kind) {
  PackageSigner signer(developmentKeys(), kind);
  std::string bytes = buildPackage(spec, signer.callback());
  EXPECT_FALSE(signer.failed());
  return bytes;
}

// Reads `bytes` as the install run does, up to part 9, and verifies it.
struct Verification {
  bool reachedSignature = false;
  bool accepted = false;
  SignatureCheck check;
  std::string digest;  // 32 bytes
  std::string copied;  // what the copy sink received
  uint32_t remainingAfter = 0;
};

Verification verify(const std::string& bytes, const TrustKeys& keys, bool hashing = true) {
  Verification result;
  std::istringstream source(bytes);
  std::stringbuf sink;
  PackageStream stream(source, hashing, &sink);
  stream.wantedTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
  PackageInfo record;
  if (stream.nextPart() != PackageHeader || !readPackageHeader(record, stream)) return result;
  for (int32_t type = stream.currentType; type != -1 && type != Signature;) type = stream.nextPart();
  if (stream.currentType != Signature) return result;
  result.reachedSignature = true;
  result.accepted = verifyPackageSignature(stream, record, keys, &result.check);
  result.remainingAfter = stream.remaining();
  result.digest.assign(reinterpret_cast<const char*>(stream.digestResult()), 32);
  result.copied = sink.str();
  return result;
}

// Flips one byte inside the payload of the first part of `type`.
std::string withPayloadByteChanged(const PackageRecipe& spec, SignatureKind kind, uint16_t type) {
  PackageSigner signer(developmentKeys(), kind);
  PackageWriter writer;
  appendPackage(writer, spec, signer.callback());
  std::string bytes = writer.bytes();
  for (const WrittenPart& part : writer.parts()) {
    if (part.type == type) {
      bytes[part.headerOffset + 6] ^= 0x20;
      break;
    }
  }
  return bytes;
}

const PackageVersion v7_5 = 0x07056603;       // outside every legacy window
const PackageVersion v6_46_8 = 0x062E6608;    // last of the first window
const PackageVersion v7_1beta4 = 0x07016204;  // first after the last window

// Legacy signatures are never accepted while the machine has the marker.
#define SKIP_IF_SECURE_MARKER()                                                                  \
  do {                                                                                           \
    struct stat status;                                                                          \
    if (stat(paths::secureMarker, &status) == 0) GTEST_SKIP() << "this machine has /ram/SECURE"; \
  } while (0)

TEST(VerifyPackageSignature, Ed25519OverSha256AcceptedWhateverTheVersion) {
  for (PackageVersion version : {v7_5, v6_46_8, PackageVersion{0xFFFFFFFF}}) {
    Verification result = verify(signedPackage(packageRecipe(version, SignatureKind::Ed25519), SignatureKind::Ed25519),
                                 developmentKeys().trust);
    ASSERT_TRUE(result.reachedSignature);
    EXPECT_TRUE(result.accepted) << std::hex << version;
    EXPECT_TRUE(result.check.ed25519Valid);
    EXPECT_FALSE(result.check.legacyValid);  // the legacy half is zero
  }
}

TEST(VerifyPackageSignature, CompiledInKeysAreTheDefault) {
  const TrustKeys& compiled = compiledTrustKeys();
  if (std::memcmp(compiled.ed25519Key, developmentKeys().trust.ed25519Key, 32) != 0) {
    GTEST_SKIP() << "built with another trust file than keys/development.trust";
  }
  std::string bytes = signedPackage(packageRecipe(v7_5, SignatureKind::Ed25519), SignatureKind::Ed25519);
  std::istringstream source(bytes);
  PackageStream stream(source, true, nullptr);
  stream.wantedTypes = {1, 4, 9};
  PackageInfo record;
  ASSERT_EQ(stream.nextPart(), PackageHeader);
  ASSERT_TRUE(readPackageHeader(record, stream));
  while (stream.currentType != Signature && stream.nextPart() != -1) {
  }
  ASSERT_EQ(stream.currentType, Signature);
  EXPECT_TRUE(verifyPackageSignature(stream, record));
  // The stream stays at part 9 and moves on to the end.
  EXPECT_EQ(stream.nextPart(), -1);
}

TEST(VerifyPackageSignature, OneChangedPayloadByteIsRefused) {
  SKIP_IF_SECURE_MARKER();
  for (SignatureKind kind : {SignatureKind::Ed25519, SignatureKind::Legacy, SignatureKind::Both}) {
    PackageRecipe spec = packageRecipe(v6_46_8, kind);
    Verification intact = verify(signedPackage(spec, kind), developmentKeys().trust);
    Verification changed = verify(withPayloadByteChanged(spec, kind, Note), developmentKeys().trust);
    ASSERT_TRUE(changed.reachedSignature);
    EXPECT_TRUE(intact.accepted);
    EXPECT_FALSE(changed.accepted);
    EXPECT_FALSE(changed.check.ed25519Valid);
    EXPECT_FALSE(changed.check.legacyValid);
  }
}

TEST(VerifyPackageSignature, LegacySignatureOnlyInsideItsWindows) {
  SKIP_IF_SECURE_MARKER();
  struct Case {
    PackageVersion version;
    const char* name;
    bool accepted;
  } cases[] = {
      {0x062E6608, "tool", true},     {0x06306600, "tool", true},  {0x07016203, "tool", true},
      {0x062E6609, "tool", false},    {0x06306601, "tool", false}, {0x07016204, "tool", false},
      {0x07016204, "branding", true},
  };
  for (const Case& c : cases) {
    PackageRecipe spec = packageRecipe(c.version, SignatureKind::Legacy, false);
    spec.name = c.name;
    Verification result = verify(signedPackage(spec, SignatureKind::Legacy), developmentKeys().trust);
    EXPECT_TRUE(result.check.legacyValid) << std::hex << c.version;
    EXPECT_EQ(result.accepted, c.accepted) << std::hex << c.version << " " << c.name;
  }
}

TEST(VerifyPackageSignature, LegacySignatureOverSha256DigestUsesItsFirst20Bytes) {
  SKIP_IF_SECURE_MARKER();
  Verification result = verify(signedPackage(packageRecipe(v6_46_8, SignatureKind::Legacy, true), SignatureKind::Legacy),
                               developmentKeys().trust);
  EXPECT_TRUE(result.accepted);
}

TEST(VerifyPackageSignature, A100BytePartIsA68ByteLegacySignature) {
  SKIP_IF_SECURE_MARKER();
  PackageRecipe spec = packageRecipe(v6_46_8, SignatureKind::Legacy, false);
  spec.signatureLength = 100;
  PackageSigner signer(developmentKeys(), SignatureKind::Legacy);
  SignatureCallback padded = [&signer](const uint8_t* digest, bool sha256) {
    return signer.callback()(digest, sha256) + std::string(32, '\x55');
  };
  Verification result = verify(buildPackage(spec, padded), developmentKeys().trust);
  EXPECT_EQ(result.check.length, 68u);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.remainingAfter, 32u);  // left for nextPart to skip
}

TEST(VerifyPackageSignature, A67BytePartIsRefused) {
  SKIP_IF_SECURE_MARKER();
  PackageRecipe spec = packageRecipe(v6_46_8, SignatureKind::Legacy, false);
  spec.signatureLength = 67;
  PackageSigner signer(developmentKeys(), SignatureKind::Legacy);
  SignatureCallback cut = [&signer](const uint8_t* digest, bool sha256) {
    return signer.callback()(digest, sha256).substr(0, 67);
  };
  Verification result = verify(buildPackage(spec, cut), developmentKeys().trust);
  ASSERT_TRUE(result.reachedSignature);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.check.length, 0u);
}

TEST(VerifyPackageSignature, WrongEd25519HalfFallsBackToTheLegacyHalf) {
  SKIP_IF_SECURE_MARKER();
  for (PackageVersion version : {v6_46_8, v7_1beta4}) {
    PackageRecipe spec = packageRecipe(version, SignatureKind::Both);
    PackageSigner signer(developmentKeys(), SignatureKind::Both);
    SignatureCallback spoiled = [&signer](const uint8_t* digest, bool sha256) {
      std::string signature = signer.callback()(digest, sha256);
      signature[100] ^= 0x01;
      return signature;
    };
    Verification result = verify(buildPackage(spec, spoiled), developmentKeys().trust);
    EXPECT_FALSE(result.check.ed25519Valid);
    EXPECT_TRUE(result.check.legacyValid);
    EXPECT_EQ(result.accepted, version == v6_46_8) << std::hex << version;
  }
}

TEST(VerifyPackageSignature, SignatureBytesAreCopiedButNotDigested) {
  PackageRecipe spec = packageRecipe(v7_5, SignatureKind::Ed25519);
  PackageWriter writer;
  PackageSigner signer(developmentKeys(), SignatureKind::Ed25519);
  appendPackage(writer, spec, signer.callback());
  std::string bytes = writer.bytes();
  Verification result = verify(bytes, developmentKeys().trust);
  ASSERT_EQ(writer.signedDigests().size(), 1u);
  EXPECT_EQ(result.digest, writer.signedDigests()[0]);
  // The sink has every byte up to the end of the signature, which ends the file.
  EXPECT_EQ(result.copied, bytes);
  // Other signature bytes, same digest.
  PackageSigner other(developmentKeys(), SignatureKind::Both);
  Verification again = verify(buildPackage(spec, other.callback()), developmentKeys().trust);
  EXPECT_EQ(again.digest, result.digest);
}

TEST(VerifyPackageSignature, RefusedAtAnyOtherPart) {
  std::string bytes = signedPackage(packageRecipe(v7_5, SignatureKind::Ed25519), SignatureKind::Ed25519);
  std::istringstream source(bytes);
  PackageStream stream(source, true, nullptr);
  stream.wantedTypes = {Files};
  ASSERT_EQ(stream.nextPart(), Files);
  EXPECT_FALSE(verifyPackageSignature(stream, PackageInfo("tool")));
}

TEST(VerifyPackageSignature, RefusedWithoutDigestsOrLegacyKeys) {
  SKIP_IF_SECURE_MARKER();
  std::string bytes = signedPackage(packageRecipe(v6_46_8, SignatureKind::Both), SignatureKind::Both);
  EXPECT_FALSE(verify(bytes, developmentKeys().trust, false).accepted);
  TrustKeys withoutLegacy = developmentKeys().trust;
  withoutLegacy.hasLegacyKeys = false;
  std::string legacyOnly = signedPackage(packageRecipe(v6_46_8, SignatureKind::Legacy, false), SignatureKind::Legacy);
  Verification result = verify(legacyOnly, withoutLegacy);
  EXPECT_FALSE(result.check.legacyValid);
  EXPECT_FALSE(result.accepted);
}

TEST(LegacyAllowed, VersionWindowsAndBranding) {
  SKIP_IF_SECURE_MARKER();
  struct Case {
    PackageVersion version;
    bool allowed;
  } cases[] = {
      {0, true},          {0x062E6608, true}, {0x062E6609, false}, {0x062EFFFF, false},
      {0x062F0000, true}, {0x06306600, true}, {0x06306601, false}, {0x06FFFFFF, false},
      {0x07000000, true}, {0x07016203, true}, {0x07016204, false}, {0xFFFFFFFF, false},
  };
  for (const Case& c : cases) {
    PackageInfo package("tool");
    package.version = c.version;
    EXPECT_EQ(legacyAllowed(package), c.allowed) << std::hex << c.version;
    package.name = "branding";
    EXPECT_TRUE(legacyAllowed(package)) << std::hex << c.version;
  }
}

TEST(LegacyAllowed, NeverWhileSecureMarkerExists) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(paths::secureMarker, "");
  std::string ed25519Only = signedPackage(packageRecipe(v7_5, SignatureKind::Ed25519), SignatureKind::Ed25519);
  std::string legacyOnly = signedPackage(packageRecipe(v6_46_8, SignatureKind::Legacy, false), SignatureKind::Legacy);
  const TrustKeys keys = developmentKeys().trust;
  runInChroot(root.path(), [&] {
    PackageInfo package("branding");
    package.version = v6_46_8;
    EXPECT_FALSE(legacyAllowed(package));
    package.name = "tool";
    EXPECT_FALSE(legacyAllowed(package));
    Verification legacy = verify(legacyOnly, keys);
    EXPECT_TRUE(legacy.check.legacyValid);
    EXPECT_FALSE(legacy.accepted);
    EXPECT_TRUE(verify(ed25519Only, keys).accepted);
  });
}

}  // namespace
