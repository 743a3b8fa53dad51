#include "platform/signing.h"

#include <gtest/gtest.h>

#include "platform/crypto.h"
#include "support/hex_bytes.h"

namespace {

struct Ed25519Vector {
  const char* seed;  // empty when only the public key is given
  const char* publicKey;
  const char* message;
  const char* signature;
};

// RFC 8032, section 7.1: TEST 1, 2, 3 and SHA(abc).
const Ed25519Vector rfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe246"
     "55141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb"
     "00d291612bb0c00"},
    {"", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc"
     "027beceea1ec40a"},
    {"", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2"
     "a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad"
     "9bef1177331a704"},
};

bool verifies(const std::vector<uint8_t>& key, const std::vector<uint8_t>& message,
              const std::vector<uint8_t>& signature) {
  return eddsa::verify({key.data(), key.data() + key.size()}, {message.data(), message.data() + message.size()},
                       {signature.data(), signature.data() + signature.size()}) != 0;
}

TEST(Ed25519, Rfc8032VectorsVerify) {
  for (const Ed25519Vector& vector : rfc8032) {
    EXPECT_TRUE(verifies(fromHex(vector.publicKey), fromHex(vector.message), fromHex(vector.signature)))
        << vector.publicKey;
  }
}

TEST(Ed25519, Rfc8032VectorsRefuseAnyChangedByte) {
  for (const Ed25519Vector& vector : rfc8032) {
    std::vector<uint8_t> signature = fromHex(vector.signature);
    std::vector<uint8_t> key = fromHex(vector.publicKey);
    std::vector<uint8_t> message = fromHex(vector.message);
    for (size_t i : {size_t{0}, size_t{31}, size_t{32}, size_t{63}}) {
      std::vector<uint8_t> changed = signature;
      changed[i] ^= 0x01;
      EXPECT_FALSE(verifies(key, message, changed)) << "signature byte " << i;
    }
    message.push_back(0);
    EXPECT_FALSE(verifies(key, message, signature)) << "longer message";
    key[0] ^= 0x80;
    EXPECT_FALSE(verifies(key, fromHex(vector.message), signature)) << "other key";
  }
}

TEST(Ed25519, VerifyRefusesKeysAndSignaturesOfWrongSize) {
  std::vector<uint8_t> key = fromHex(rfc8032[0].publicKey);
  std::vector<uint8_t> signature = fromHex(rfc8032[0].signature);
  std::vector<uint8_t> empty;
  EXPECT_FALSE(verifies({key.begin(), key.end() - 1}, empty, signature));
  EXPECT_FALSE(verifies(key, empty, {signature.begin(), signature.end() - 1}));
}

TEST(Ed25519, SigningReproducesRfc8032Signatures) {
  for (const Ed25519Vector& vector : rfc8032) {
    if (*vector.seed == '\0') continue;
    std::vector<uint8_t> seed = fromHex(vector.seed);
    std::vector<uint8_t> message = fromHex(vector.message);
    uint8_t publicKey[32], signature[64];
    ASSERT_TRUE(signing::ed25519PublicKey(seed.data(), publicKey));
    EXPECT_EQ(toHex(publicKey, 32), vector.publicKey);
    ASSERT_TRUE(signing::ed25519Sign(seed.data(), message.data(), message.size(), signature));
    EXPECT_EQ(toHex(signature, 64), vector.signature);
  }
}

TEST(RandomBytes, FillsTheBufferDifferentlyEachTime) {
  uint8_t a[32] = {}, b[32] = {};
  ASSERT_TRUE(signing::randomBytes(a, sizeof a));
  ASSERT_TRUE(signing::randomBytes(b, sizeof b));
  EXPECT_NE(toHex(a, 32), toHex(b, 32));
}

// L = 2^252 + 27742317777372353535851937790883648493, little-endian.
const char orderHex[] = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";

std::string scalarHex(uint64_t value) {
  uint8_t bytes[32] = {};
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return toHex(bytes, 32);
}

TEST(Scalars, ReduceModuloTheGroupOrder) {
  std::vector<uint8_t> order = fromHex(orderHex);
  uint8_t out[32];
  ASSERT_TRUE(signing::scalarReduce(order.data(), 32, out));
  EXPECT_EQ(toHex(out, 32), scalarHex(0));
  order[0] += 5;  // L + 5
  ASSERT_TRUE(signing::scalarReduce(order.data(), 32, out));
  EXPECT_EQ(toHex(out, 32), scalarHex(5));
  uint8_t wide[65] = {};
  wide[63] = 0x01;  // 2^504
  ASSERT_TRUE(signing::scalarReduce(wide, 64, out));
  EXPECT_EQ(toHex(out, 32), "698912ab85f6ede21da3982276920368bef517d273ecce3d9a307c1b4199b301");
  EXPECT_FALSE(signing::scalarReduce(wide, 65, out));
}

TEST(Scalars, ArithmeticModuloTheGroupOrder) {
  std::vector<uint8_t> three = fromHex(scalarHex(3)), five = fromHex(scalarHex(5));
  uint8_t out[32], back[32];
  ASSERT_TRUE(signing::scalarSubtract(three.data(), five.data(), out));  // -2
  ASSERT_TRUE(signing::scalarNegate(out, back));
  EXPECT_EQ(toHex(back, 32), scalarHex(2));
  std::vector<uint8_t> minusOne = fromHex(orderHex);
  minusOne[0] -= 1;
  ASSERT_TRUE(signing::scalarMultiply(minusOne.data(), minusOne.data(), out));
  EXPECT_EQ(toHex(out, 32), scalarHex(1));
  ASSERT_TRUE(signing::scalarInvert(five.data(), out));
  ASSERT_TRUE(signing::scalarMultiply(out, five.data(), back));
  EXPECT_EQ(toHex(back, 32), scalarHex(1));
  std::vector<uint8_t> zero = fromHex(scalarHex(0));
  EXPECT_FALSE(signing::scalarInvert(zero.data(), out));
  EXPECT_FALSE(signing::scalarInvert(fromHex(orderHex).data(), out));
}

}  // namespace
