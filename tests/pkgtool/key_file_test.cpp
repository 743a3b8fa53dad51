#include "key_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hash_constants.h"
#include "legacy_signer.h"
#include "package/signature_check.h"
#include "platform/signing.h"
#include "support/temp_root.h"

namespace {

const char devKey[] = SOURCE_DIR "/keys/development.key";
const char devTrust[] = SOURCE_DIR "/keys/development.trust";

SigningKeys developmentKeys() {
  SigningKeys keys;
  std::string error;
  EXPECT_TRUE(readKeyFile(devKey, keys, error)) << error;
  return keys;
}

// The development key file matches the development trust file, and what
// formatKeyFile/formatTrustFile write reads back the same.
TEST(KeyFile, DevelopmentKeysMatchTheirTrustAndFormattedFilesReadBack) {
  SigningKeys keys = developmentKeys();
  EXPECT_TRUE(keys.hasEd25519);
  EXPECT_TRUE(keys.hasLegacy);
  TrustKeys trust;
  std::string error;
  ASSERT_TRUE(readTrustFile(devTrust, trust, error)) << error;
  EXPECT_EQ(formatTrustFile(keys.trust), formatTrustFile(trust));
  TempRoot dir;
  dir.writeFile("/k.key", formatKeyFile(keys));
  dir.writeFile("/k.trust", formatTrustFile(keys.trust));
  SigningKeys again;
  ASSERT_TRUE(readKeyFile(dir.at("/k.key"), again, error)) << error;
  ASSERT_TRUE(readTrustFile(dir.at("/k.trust"), trust, error)) << error;
  EXPECT_EQ(formatKeyFile(again), formatKeyFile(keys));
  EXPECT_EQ(std::memcmp(again.legacyScalar, keys.legacyScalar, 32), 0);
  EXPECT_EQ(formatTrustFile(trust), formatTrustFile(keys.trust));
}

std::string trustError(const std::string& contents) {
  TempRoot dir;
  dir.writeFile("/t.trust", contents);
  TrustKeys keys;
  std::string error;
  if (readTrustFile(dir.at("/t.trust"), keys, error)) return "accepted";
  return error.substr(error.find("t.trust"));
}

TEST(TrustFileReader, NamesWhatIsWrongWithLineNumbers) {
  const std::string ed = "ed25519-public-key " + std::string(64, '0') + "\n";
  EXPECT_EQ(trustError("# nothing\n"), "t.trust: ed25519-public-key is missing");
  EXPECT_EQ(trustError("\n\ned25519-public-key 12\n"), "t.trust:3: ed25519-public-key needs 64 hex digits (32 bytes)");
  EXPECT_EQ(trustError(ed + ed), "t.trust:2: ed25519-public-key given twice");
  EXPECT_EQ(trustError(ed + "ed25519-private-key " + std::string(64, '1') + "\n"),
            "t.trust:2: unknown setting \"ed25519-private-key\"");
  EXPECT_EQ(trustError(ed + "legacy-hash-iv 00000000\n"), "t.trust:2: legacy-hash-iv needs 8 words of 8 hex digits");
  EXPECT_EQ(trustError(ed + "legacy-public-key " + std::string(64, 'a') + "\n"),
            "t.trust: legacy-public-key, legacy-hash-iv and legacy-hash-k go together: give all three or none");
  EXPECT_EQ(trustError(ed + "  # comment after blanks\n"), "accepted");
}

// The file's name and the problem, for a key file with `contents`.
std::string keyError(const std::string& contents, const char* name = "/bad.key") {
  TempRoot dir;
  if (!contents.empty()) dir.writeFile(name, contents);
  SigningKeys keys;
  std::string error;
  if (readKeyFile(dir.at(name), keys, error)) return "accepted";
  return error.substr(error.find(name + 1));
}

std::string withChangedDigit(std::string text, const std::string& key) {
  size_t at = text.find(key + " ") + key.size() + 1;
  text[at] = text[at] == '0' ? '1' : '0';
  return text;
}

TEST(KeyFileReader, RefusesKeysThatDoNotBelongTogether) {
  SigningKeys keys = developmentKeys();
  std::string text = formatKeyFile(keys);
  EXPECT_EQ(keyError(withChangedDigit(text, "legacy-public-key")),
            "bad.key: legacy-public-key does not belong to legacy-private-key");
  EXPECT_EQ(keyError(withChangedDigit(text, "ed25519-public-key")),
            "bad.key: ed25519-public-key does not belong to ed25519-private-key");
  EXPECT_NE(keyError(formatTrustFile(keys.trust)).find("no private key"), std::string::npos);
  EXPECT_EQ(keyError("", "/missing.key"), "missing.key: cannot open: No such file or directory");
}

// Derived from the first primes the constants are SHA-256's; the development
// trust file holds the documented (other) derivation.
TEST(HashConstants, DerivationGivesSha256AndTheDevelopmentTrustsOwn) {
  LegacyHashConstants standard = deriveHashConstants(1, 1);
  EXPECT_EQ(standard.iv[0], 0x6a09e667u);
  EXPECT_EQ(standard.iv[7], 0x5be0cd19u);
  EXPECT_EQ(standard.k[0], 0x428a2f98u);
  EXPECT_EQ(standard.k[63], 0xc67178f2u);
  TrustKeys trust;
  std::string error;
  ASSERT_TRUE(readTrustFile(devTrust, trust, error)) << error;
  LegacyHashConstants derived = developmentHashConstants();
  EXPECT_EQ(std::memcmp(derived.iv, trust.legacyHash.iv, sizeof derived.iv), 0);
  EXPECT_EQ(std::memcmp(derived.k, trust.legacyHash.k, sizeof derived.k), 0);
  EXPECT_NE(derived.iv[0], standard.iv[0]);
}

TEST(LegacySigner, SignaturesOfNewKeysVerifyAndOnlyForTheirDigest) {
  for (int round = 0; round < 3; ++round) {
    TrustKeys trust;
    trust.hasLegacyKeys = true;
    trust.legacyHash = developmentHashConstants();
    uint8_t k[32];
    ASSERT_TRUE(legacyGenerateKey(k, trust.legacyKey));
    uint8_t digest[32] = {1, 2, 3, static_cast<uint8_t>(round)};
    uint8_t signature[68];
    ASSERT_TRUE(legacySign(k, trust, digest, signature));
    EXPECT_TRUE(checkSignature(signature, 68, digest, true, trust).legacyValid);
    digest[19] ^= 1;
    EXPECT_FALSE(checkSignature(signature, 68, digest, true, trust).legacyValid);
    digest[19] ^= 1;
    digest[20] ^= 1;  // beyond the 20 bytes the scheme signs
    EXPECT_TRUE(checkSignature(signature, 68, digest, true, trust).legacyValid);
  }
}

TEST(LegacySigner, EitherSignOfTheScalarSigns) {
  SigningKeys keys = developmentKeys();
  uint8_t negated[32], publicKey[32];
  ASSERT_TRUE(signing::scalarNegate(keys.legacyScalar, negated));
  ASSERT_TRUE(legacyPublicKey(negated, publicKey));
  EXPECT_EQ(std::memcmp(publicKey, keys.trust.legacyKey, 32), 0);
  uint8_t digest[32] = {9}, signature[68];
  ASSERT_TRUE(legacySign(negated, keys.trust, digest, signature));
  EXPECT_TRUE(checkSignature(signature, 68, digest, true, keys.trust).legacyValid);
}

}  // namespace
