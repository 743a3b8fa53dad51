#include "package/legacy_hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/crypto.h"
#include "support/hex_bytes.h"

namespace {

// The published SHA-256 constants: with them the construction must be SHA-256.
const LegacyHashConstants standardSha256 = {
    {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
    {0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
     0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
     0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
     0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
     0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
     0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
     0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
     0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2}};

std::string sha256Hex(const uint8_t* message, size_t length) {
  Digest digest(Digest::Sha256);
  digest.update(message, length);
  uint8_t out[32];
  digest.finish(out);
  return toHex(out, 32);
}

TEST(LegacyHash, WithStandardConstantsIsSha256OfShortMessages) {
  uint8_t out[32];
  ASSERT_TRUE(legacyHash(standardSha256, reinterpret_cast<const uint8_t*>("abc"), 3, out));
  EXPECT_EQ(toHex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  uint8_t message[55];
  for (size_t i = 0; i < sizeof message; ++i) message[i] = static_cast<uint8_t>(i * 37 + 1);
  // Every length up to the last one that fits a single block.
  for (size_t length = 0; length <= legacyHashMaxLength; ++length) {
    ASSERT_TRUE(legacyHash(standardSha256, message, length, out));
    EXPECT_EQ(toHex(out, 32), sha256Hex(message, length)) << "length " << length;
  }
}

TEST(LegacyHash, RefusesMessagesThatNeedASecondBlock) {
  uint8_t message[56] = {}, out[32] = {};
  EXPECT_FALSE(legacyHash(standardSha256, message, 56, out));
  EXPECT_EQ(toHex(out, 32), std::string(64, '0'));
}

TEST(LegacyHash, EachConstantChangesTheResult) {
  uint8_t reference[32], out[32];
  const uint8_t message[20] = {1, 2, 3};
  ASSERT_TRUE(legacyHash(standardSha256, message, 20, reference));
  LegacyHashConstants changed = standardSha256;
  changed.iv[7] ^= 1;
  ASSERT_TRUE(legacyHash(changed, message, 20, out));
  EXPECT_NE(toHex(out, 32), toHex(reference, 32));
  changed = standardSha256;
  changed.k[63] ^= 1;  // the last round's constant
  ASSERT_TRUE(legacyHash(changed, message, 20, out));
  EXPECT_NE(toHex(out, 32), toHex(reference, 32));
}

}  // namespace
