#include "legacy_signer.h"

#include <cstring>

#include "package/curve25519.h"
#include "package/signature_check.h"
#include "signing.h"

namespace installer {

namespace {

bool isZero(const uint8_t scalar[32]) {
  uint8_t any = 0;
  for (int i = 0; i < 32; ++i) any |= scalar[i];
  return any == 0;
}

// A random scalar below L, never 0.
bool randomScalar(uint8_t out[32]) {
  uint8_t wide[64];
  do {
    if (!signing::randomBytes(wide, sizeof wide) || !signing::scalarReduce(wide, sizeof wide, out)) return false;
  } while (isZero(out));
  return true;
}

// k or -k: whichever times B is the point the verifier takes for K.
bool verifierScalar(const uint8_t k[32], uint8_t out[32]) {
  uint8_t u[32];
  bool vIsOdd = false;
  legacyBaseMultiple(k, u, vIsOdd);
  if (vIsOdd) return signing::scalarReduce(k, 32, out);
  return signing::scalarNegate(k, out);
}

}  // namespace

bool legacyPublicKey(const uint8_t k[32], uint8_t publicKey[32]) {
  bool vIsOdd = false;
  uint8_t reduced[32];
  if (!signing::scalarReduce(k, 32, reduced) || isZero(reduced)) return false;
  legacyBaseMultiple(reduced, publicKey, vIsOdd);
  return true;
}

bool legacyGenerateKey(uint8_t k[32], uint8_t publicKey[32]) {
  uint8_t candidate[32];
  return randomScalar(candidate) && verifierScalar(candidate, k) && legacyPublicKey(k, publicKey);
}

bool legacySign(const uint8_t k[32], const TrustKeys& trust, const uint8_t digest[32], uint8_t signature[68]) {
  uint8_t key[32], inverse[32], r[32], pointR[32], e[32], difference[32];
  bool unused = false;
  if (!verifierScalar(k, key) || !signing::scalarInvert(key, inverse) || !randomScalar(r)) return false;
  legacyBaseMultiple(r, pointR, unused);
  std::memset(signature, 0, 68);
  uint8_t* tag = signature + 20;
  uint8_t* s = signature + 36;
  return legacyTag(trust, pointR, tag) && legacyChallenge(trust, digest, tag, e) &&
         signing::scalarSubtract(r, e, difference) && signing::scalarMultiply(difference, inverse, s);
}

}  // namespace installer
