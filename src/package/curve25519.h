// Curve25519 arithmetic for the legacy signature scheme: the Montgomery curve
// v^2 = u^3 + 486662 u^2 + u over the field of p = 2^255 - 19 (RFC 7748).
//
// Points are exchanged as 32-byte little-endian u-coordinates. Where a full
// point is needed (the public key K and the base point B), v is taken as the
// odd one of the two square roots of u^3 + 486662 u^2 + u, which is what makes
// B the standard base point. Scalars are 32-byte little-endian numbers used
// with all 256 bits. Everything works in fixed memory on the caller's stack.
#pragma once

#include <cstdint>

namespace installer {

// The u-coordinate of s·K + e·B, fully reduced below p, little-endian.
// `key` is the u-coordinate of K. Returns false when `key` is not the
// u-coordinate of a point of order greater than 2 on the curve (no square
// root exists, or v = 0): no signature can be checked against such a key.
[[nodiscard]] bool legacyCombine(const uint8_t key[32], const uint8_t s[32], const uint8_t e[32], uint8_t out[32]);

// u(k·B) and the parity of its v: the legacy public key of private scalar k.
// A key whose v is even is, to the verifier, the point -k·B, so a signer
// holding k must then sign with -k (mod the group order).
void legacyBaseMultiple(const uint8_t k[32], uint8_t u[32], bool& vIsOdd);

}  // namespace installer
