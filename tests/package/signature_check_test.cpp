#include "package/signature_check.h"

#include <gtest/gtest.h>

#include <numeric>

#include "hex_text.h"

namespace installer {
namespace {

// A legacy signature made once by the signer: its random point pins the tag
// and the challenge, which a signer made today would share with the check.
TEST(CheckSignature, KnownLegacySignature) {
  uint8_t digest[32], signature[68] = {};
  std::iota(digest, digest + 32, 0);  // a SHA-256 result: the legacy scheme signs its first 20 bytes
  ASSERT_TRUE(
      parseHexBytes("6226f4586186d3995d2e4f5c2991dccdab29b943e179e857"
                    "92baa079779102520fafd9ce18b0e13a7bc78c9166eaee08",
                    signature + 20, 48));
  SignatureCheck check = checkSignature(signature, 68, digest, true, compiledTrustKeys());
  EXPECT_EQ(check.length, 68u);
  EXPECT_TRUE(check.legacyChecked);
  EXPECT_TRUE(check.legacyValid);
  EXPECT_TRUE(check.accepted());
  signature[40] ^= 1;
  EXPECT_FALSE(checkSignature(signature, 68, digest, true, compiledTrustKeys()).legacyValid);
}

}  // namespace
}  // namespace installer
