#include "package/curve25519.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/signing.h"
#include "support/hex_bytes.h"

namespace {

std::string x25519Hex(const std::string& scalar, const std::string& u) {
  std::vector<uint8_t> k = fromHex(scalar), point = fromHex(u);
  uint8_t out[32];
  x25519(k.data(), point.data(), out);
  return toHex(out, 32);
}

const uint8_t basePoint[32] = {9};

TEST(X25519, Rfc7748Vectors) {
  // Section 5.2; the second u has its top bit set, which must be ignored.
  EXPECT_EQ(x25519Hex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
                      "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c"),
            "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552");
  EXPECT_EQ(x25519Hex("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
                      "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493"),
            "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957");
}

TEST(X25519, Rfc7748PublicKeyIsClampedScalarTimesBase) {
  // Section 6.1, Alice's and Bob's key pairs and their shared secret.
  const char alice[] = "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
  const char bob[] = "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb";
  const std::string base = toHex(basePoint, 32);
  EXPECT_EQ(x25519Hex(alice, base), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(x25519Hex(bob, base), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  EXPECT_EQ(x25519Hex(alice, "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"),
            "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
}

std::string combineHex(const uint8_t key[32], const std::string& s, const std::string& e) {
  std::vector<uint8_t> sBytes = fromHex(s), eBytes = fromHex(e);
  uint8_t out[32];
  if (!legacyCombine(key, sBytes.data(), eBytes.data(), out)) return "refused";
  return toHex(out, 32);
}

// Clamped scalars: then u(s·B) is X25519(s, 9).
TEST(LegacyCombine, MatchesTheLadderOnTheBasePoint) {
  const char alice[] = "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
  std::vector<uint8_t> clamped = fromHex(alice);
  clamped[0] &= 0xF8;
  clamped[31] = (clamped[31] & 0x7F) | 0x40;
  const std::string zero(64, '0');
  // K = B: s·B + 0·B and 0·B + e·B both give Alice's public key.
  EXPECT_EQ(combineHex(basePoint, toHex(clamped), zero),
            "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(combineHex(basePoint, zero, toHex(clamped)),
            "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  // 0·K + 0·B is the neutral element, written as u = 0.
  EXPECT_EQ(combineHex(basePoint, zero, zero), zero);
}

// Computed independently with affine Montgomery arithmetic: K = u(k·B) for
// k = 01 02 .. 20 has an even v, so the verifier's K (odd v) is -k·B.
TEST(LegacyCombine, UsesTheOddRootForTheKeyAndAll256ScalarBits) {
  std::vector<uint8_t> key = fromHex("bcd6886bb4119943e0d74eb75fa44d28b11e65d78aa98f94149bb261174f3834");
  EXPECT_EQ(combineHex(key.data(), "fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0efeeedecebeae9e8e7e6e5e4e3e2e1e0",
                       "030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dc"),
            "8a87f05dd059938e4bc6d33df9b7c8ad0bcb0bfef7642fc71f88e0dd5dcdec74");
}

TEST(LegacyCombine, RefusesKeysThatAreNoUsablePoint) {
  const std::string one = "0100000000000000000000000000000000000000000000000000000000000000";
  uint8_t zeroKey[32] = {};  // (0, 0) has order 2
  EXPECT_EQ(combineHex(zeroKey, one, one), "refused");
  uint8_t twistKey[32] = {2};  // 8 + 4·486662 + 2 has no square root
  EXPECT_EQ(combineHex(twistKey, one, one), "refused");
}

TEST(LegacyBaseMultiple, GivesTheKeyAndTheParityOfItsV) {
  std::vector<uint8_t> k(32);
  for (int i = 0; i < 32; ++i) k[i] = static_cast<uint8_t>(i + 1);
  uint8_t u[32];
  bool vIsOdd = true;
  legacyBaseMultiple(k.data(), u, vIsOdd);
  EXPECT_EQ(toHex(u, 32), "bcd6886bb4119943e0d74eb75fa44d28b11e65d78aa98f94149bb261174f3834");
  EXPECT_FALSE(vIsOdd);
  // -k·B has the same u and the other v.
  uint8_t negated[32];
  ASSERT_TRUE(signing::scalarNegate(k.data(), negated));
  legacyBaseMultiple(negated, u, vIsOdd);
  EXPECT_EQ(toHex(u, 32), "bcd6886bb4119943e0d74eb75fa44d28b11e65d78aa98f94149bb261174f3834");
  EXPECT_TRUE(vIsOdd);
}

// The relation a legacy signer relies on: with s = (r - e)/k, s·K + e·B = r·B
// when K (odd v) is k·B.
TEST(LegacyCombine, SignerRelationHolds) {
  for (int round = 0; round < 4; ++round) {
    uint8_t k[32], r[32], e[32], wide[64];
    ASSERT_TRUE(signing::randomBytes(wide, 64));
    ASSERT_TRUE(signing::scalarReduce(wide, 64, k));
    ASSERT_TRUE(signing::randomBytes(wide, 64));
    ASSERT_TRUE(signing::scalarReduce(wide, 64, r));
    ASSERT_TRUE(signing::randomBytes(e, 32));
    e[0] &= 0xF8;
    e[31] = (e[31] & 0x7F) | 0x40;
    uint8_t key[32];
    bool vIsOdd = false;
    legacyBaseMultiple(k, key, vIsOdd);
    if (!vIsOdd) {
      ASSERT_TRUE(signing::scalarNegate(k, k));
    }
    uint8_t difference[32], inverse[32], s[32];
    ASSERT_TRUE(signing::scalarSubtract(r, e, difference));
    ASSERT_TRUE(signing::scalarInvert(k, inverse));
    ASSERT_TRUE(signing::scalarMultiply(difference, inverse, s));
    uint8_t combined[32], expected[32];
    ASSERT_TRUE(legacyCombine(key, s, e, combined));
    bool unused;
    legacyBaseMultiple(r, expected, unused);
    EXPECT_EQ(toHex(combined, 32), toHex(expected, 32));
  }
}

}  // namespace
