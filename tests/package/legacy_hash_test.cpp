#include "package/legacy_hash.h"

#include <gtest/gtest.h>

#include "hash_constants.h"
#include "platform/crypto.h"

namespace installer {
namespace {

// With the published constants the construction is SHA-256, for messages
// that fit one block; longer ones are refused, writing nothing.
TEST(LegacyHash, WithThePublishedConstantsIsSha256OfOneBlock) {
  uint8_t message[56], expected[32], out[32] = {};
  for (size_t i = 0; i < sizeof message; ++i) message[i] = static_cast<uint8_t>(i * 37 + 1);
  EXPECT_FALSE(legacyHash(deriveHashConstants(1, 1), message, 56, out));
  EXPECT_EQ(std::count(out, out + 32, 0), 32);
  for (size_t length = 0; length <= legacyHashMaxLength; ++length) {
    Digest sha256(Digest::Sha256);
    sha256.update(message, length);
    sha256.finish(expected);
    ASSERT_TRUE(legacyHash(deriveHashConstants(1, 1), message, length, out));
    EXPECT_TRUE(std::equal(out, out + 32, expected)) << length;
  }
}

}  // namespace
}  // namespace installer
