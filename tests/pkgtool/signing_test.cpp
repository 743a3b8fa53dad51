// Digests, Ed25519 and scalar arithmetic from the platform's crypto library,
// against published vectors (FIPS 180 "abc", RFC 8032 7.1 TEST 2).
#include "signing.h"

#include <gtest/gtest.h>

#include "hex_text.h"
#include "platform/crypto.h"

namespace installer {
namespace {

TEST(Signing, PublishedVectors) {
  uint8_t out[64], seed[32], key[32], message[] = {0x72}, zero[32] = {};
  Digest digest(Digest::Sha256);
  digest.update("x", 1), digest.finish(out), digest.update("a", 1), digest.update("bc", 2);  // finish starts afresh
  EXPECT_EQ(hexText(out, digest.finish(out)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(parseHexBytes("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb", seed, 32) &&
              parseHexBytes("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", key, 32) &&
              signing::ed25519Sign(seed, message, 1, out));
  EXPECT_EQ(hexText(out, 64),
            "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
            "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00");
  EXPECT_NE(eddsa::verify({key, key + 32}, {message, message + 1}, {out, out + 64}), 0);
  EXPECT_EQ(eddsa::verify({seed, seed + 32}, {message, message + 1}, {out, out + 64}), 0) << "another key";
  // Scalars modulo the group order L, little-endian: (L - 1)^2 = 1; 0 has no inverse.
  ASSERT_TRUE(parseHexBytes("ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010", key, 32) &&
              signing::scalarMultiply(key, key, out) && !signing::scalarInvert(zero, key));
  EXPECT_EQ(hexText(out, 32), "01" + std::string(62, '0'));
}

}  // namespace
}  // namespace installer
