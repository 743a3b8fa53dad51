// Key generation and signing for pkgtool, which builds package files, from the
// platform's crypto library. The installer itself only verifies
// (src/platform/crypto.h), so this lives with the tool; like the files of
// src/platform it is the one place of tools/ that talks to OpenSSL, and its
// implementation is picked by file (signing_openssl.cpp).
//
// Ed25519 keys are 32-byte RFC 8032 seeds and public keys. Scalars of the
// legacy scheme are 32-byte little-endian numbers taken modulo the order L of
// the Curve25519 base point, L = 2^252 + 27742317777372353535851937790883648493;
// every result is fully reduced below L.
#pragma once

#include <cstddef>
#include <cstdint>

namespace installer {

namespace signing {

// Fills `out` with n bytes from the system's secure random source.
[[nodiscard]] bool randomBytes(uint8_t* out, size_t n);

// The public key of an Ed25519 seed.
[[nodiscard]] bool ed25519PublicKey(const uint8_t seed[32], uint8_t publicKey[32]);

// The RFC 8032 signature of `message` by the key with this seed.
[[nodiscard]] bool ed25519Sign(const uint8_t seed[32], const uint8_t* message, size_t length, uint8_t signature[64]);

// `length` little-endian bytes (at most 64) reduced modulo L.
[[nodiscard]] bool scalarReduce(const uint8_t* bytes, size_t length, uint8_t out[32]);
// -a, a - b, a · b modulo L.
[[nodiscard]] bool scalarNegate(const uint8_t a[32], uint8_t out[32]);
[[nodiscard]] bool scalarSubtract(const uint8_t a[32], const uint8_t b[32], uint8_t out[32]);
[[nodiscard]] bool scalarMultiply(const uint8_t a[32], const uint8_t b[32], uint8_t out[32]);
// 1/a modulo L; false when a is 0 modulo L.
[[nodiscard]] bool scalarInvert(const uint8_t a[32], uint8_t out[32]);

}  // namespace signing

}  // namespace installer
