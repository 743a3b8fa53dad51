#include "package/curve25519.h"

#include <gtest/gtest.h>

#include "hex_text.h"

namespace installer {
namespace {

// u(s·K + e·B), K taken with its odd v, for 32-byte values in hex; or "refused".
std::string combine(const std::string& key, const std::string& s, const std::string& e) {
  uint8_t in[3][32], out[32];
  EXPECT_TRUE(parseHexBytes(key, in[0], 32)) << key;
  EXPECT_TRUE(parseHexBytes(s, in[1], 32)) << s;
  EXPECT_TRUE(parseHexBytes(e, in[2], 32)) << e;
  return legacyCombine(in[0], in[1], in[2], out) ? hexText(out, 32) : "refused";
}

TEST(LegacyCombine, KnownResults) {
  const std::string zero(64, '0'), base = "09" + zero.substr(2);
  // RFC 7748, 6.1: Alice's private key, clamped, and her public key.
  const std::string alice = "70076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c6a";
  const std::string alicePublic = "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a";
  EXPECT_EQ(combine(base, alice, zero), alicePublic);
  EXPECT_EQ(combine(base, zero, zero), zero) << "the neutral element";
  // Computed with affine arithmetic: u(k·B) for k = 01 02 .. 20 has an even v; every bit of s and e counts.
  EXPECT_EQ(combine("bcd6886bb4119943e0d74eb75fa44d28b11e65d78aa98f94149bb261174f3834",
                    "fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0efeeedecebeae9e8e7e6e5e4e3e2e1e0",
                    "030a11181f262d343b424950575e656c737a81888f969da4abb2b9c0c7ced5dc"),
            "8a87f05dd059938e4bc6d33df9b7c8ad0bcb0bfef7642fc71f88e0dd5dcdec74");
  EXPECT_EQ(combine(zero, base, base), "refused") << "(0, 0) has order 2";
  EXPECT_EQ(combine("02" + zero.substr(2), base, base), "refused") << "8 + 4·486662 + 2 has no square root";
}

}  // namespace
}  // namespace installer
