#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

#include "signing.h"

namespace installer {

namespace signing {

bool randomBytes(uint8_t* out, size_t n) { return n <= INT_MAX && RAND_bytes(out, static_cast<int>(n)) == 1; }

namespace {

EVP_PKEY* privateKey(const uint8_t seed[32]) {
  return EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32);
}

}  // namespace

bool ed25519PublicKey(const uint8_t seed[32], uint8_t publicKey[32]) {
  EVP_PKEY* key = privateKey(seed);
  size_t length = 32;
  bool ok = key != nullptr && EVP_PKEY_get_raw_public_key(key, publicKey, &length) == 1 && length == 32;
  EVP_PKEY_free(key);
  return ok;
}

bool ed25519Sign(const uint8_t seed[32], const uint8_t* message, size_t length, uint8_t signature[64]) {
  EVP_PKEY* key = privateKey(seed);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t signatureLength = 64;
  bool ok = key != nullptr && context != nullptr && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key) == 1 &&
            EVP_DigestSign(context, signature, &signatureLength, message, length) == 1 && signatureLength == 64;
  EVP_MD_CTX_free(context);
  EVP_PKEY_free(key);
  return ok;
}

namespace {

// The working set of one scalar operation: the group order, two operands,
// the result, and the context OpenSSL needs for modular arithmetic.
class ScalarContext {
 public:
  ScalarContext() : context(BN_CTX_new()), order(BN_new()), a(BN_new()), b(BN_new()), result(BN_new()) {
    valid = context != nullptr && order != nullptr && a != nullptr && b != nullptr && result != nullptr &&
            BN_hex2bn(&order, "1000000000000000000000000000000014def9dea2f79cd65812631a5cf5d3ed") != 0;
  }
  ~ScalarContext() {
    BN_free(result);
    BN_free(b);
    BN_free(a);
    BN_free(order);
    BN_CTX_free(context);
  }
  ScalarContext(const ScalarContext&) = delete;
  ScalarContext& operator=(const ScalarContext&) = delete;

  // Loads the operands (b may be null) reduced modulo L.
  bool load(const uint8_t* first, size_t firstLength, const uint8_t* second) {
    if (!valid || BN_lebin2bn(first, static_cast<int>(firstLength), a) == nullptr) return false;
    if (second != nullptr && BN_lebin2bn(second, 32, b) == nullptr) return false;
    return BN_nnmod(a, a, order, context) == 1 && BN_nnmod(b, b, order, context) == 1;
  }
  bool store(uint8_t out[32]) const { return BN_bn2lebinpad(result, out, 32) == 32; }

  BN_CTX* context;
  BIGNUM* order;
  BIGNUM* a;
  BIGNUM* b;
  BIGNUM* result;
  bool valid = false;
};

}  // namespace

bool scalarReduce(const uint8_t* bytes, size_t length, uint8_t out[32]) {
  ScalarContext s;
  return length <= 64 && s.load(bytes, length, nullptr) && BN_copy(s.result, s.a) != nullptr && s.store(out);
}

bool scalarNegate(const uint8_t a[32], uint8_t out[32]) {
  ScalarContext s;
  return s.load(a, 32, nullptr) && BN_mod_sub(s.result, s.order, s.a, s.order, s.context) == 1 && s.store(out);
}

bool scalarSubtract(const uint8_t a[32], const uint8_t b[32], uint8_t out[32]) {
  ScalarContext s;
  return s.load(a, 32, b) && BN_mod_sub(s.result, s.a, s.b, s.order, s.context) == 1 && s.store(out);
}

bool scalarMultiply(const uint8_t a[32], const uint8_t b[32], uint8_t out[32]) {
  ScalarContext s;
  return s.load(a, 32, b) && BN_mod_mul(s.result, s.a, s.b, s.order, s.context) == 1 && s.store(out);
}

bool scalarInvert(const uint8_t a[32], uint8_t out[32]) {
  ScalarContext s;
  return s.load(a, 32, nullptr) && !BN_is_zero(s.a) && BN_mod_inverse(s.result, s.a, s.order, s.context) != nullptr &&
         s.store(out);
}

}  // namespace signing

}  // namespace installer
