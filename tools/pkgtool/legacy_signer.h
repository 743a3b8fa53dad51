// The signing side of the legacy signature scheme.
//
// With private scalar k and public key K = u(k·B), the verifier takes the odd
// square root for K's v, which is the point k·B or -k·B. The signer checks
// which and signs with the matching sign, so either k works.
//
// Signing a digest: pick r at random, R = r·B, t = the first 16 bytes of
// legacyHash(u(R)), e = the clamped legacyHash(digest[0..19]) with t mixed
// in, s = (r - e)/k mod L. Then s·K + e·B = r·B, whose u hashes to t again.
#pragma once

#include <cstdint>

#include "package/trust_keys.h"

namespace installer {

// u(k·B), the public key of private scalar k.
[[nodiscard]] bool legacyPublicKey(const uint8_t k[32], uint8_t publicKey[32]);

// A new random private scalar (reduced, non-zero) and its public key.
[[nodiscard]] bool legacyGenerateKey(uint8_t k[32], uint8_t publicKey[32]);

// The 68-byte legacy signature of a package digest (only bytes 0..19 count):
// bytes 0..19 zero (the verifier does not read them), t, s.
// REQUIRES: trust.hasLegacyKeys and trust.legacyKey = legacyPublicKey(k).
[[nodiscard]] bool legacySign(const uint8_t k[32], const TrustKeys& trust, const uint8_t digest[32],
                              uint8_t signature[68]);

}  // namespace installer
