// The check of a signature part's bytes against a package digest, apart from
// the stream they come from, so that the installer's verifier and the tools'
// inspector share one implementation.
//
// Signature part payload (what is read of it):
//   0..19   legacy signature, not used by the check
//   20..35  legacy tag t
//   36..67  legacy scalar s, 256-bit little-endian
//   68..131 Ed25519 signature (R, S), only in a 132-byte signature
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/trust_keys.h"

namespace installer {

constexpr size_t legacySignatureLength = 68;
constexpr size_t fullSignatureLength = 132;

// What was found in one signature. `legacyValid` says only that the legacy
// signature matches the key; whether the package may use it is `legacyAllowed`.
struct SignatureCheck {
  size_t length = 0;  // 132, 68, or 0 when the part is too short to check
  bool ed25519Valid = false;
  bool legacyValid = false;
  bool legacyAllowed = false;
  bool legacyChecked = false;  // false when an Ed25519 match made it moot

  bool accepted() const { return ed25519Valid || (legacyValid && legacyAllowed); }
};

// How many bytes of a signature part of `partLength` bytes are the signature:
// 132, 68, or 0 when the part is too short for any.
size_t signatureLength(uint32_t partLength);

// Checks `length` (132 or 68) signature bytes against the 32-byte digest
// result. The legacy signature is checked when the Ed25519 one is absent or
// wrong, and always when `checkBoth` is set.
SignatureCheck checkSignature(const uint8_t* signature, size_t length, const uint8_t digest[32], bool legacyAllowed,
                              const TrustKeys& keys, bool checkBoth = false);

// The legacy tag t for a curve point u(R) and the scalar e for a digest and
// tag: the two values a legacy signer and the verifier must agree on.
// Return false only for keys without legacy constants.
[[nodiscard]] bool legacyTag(const TrustKeys& keys, const uint8_t pointU[32], uint8_t tag[16]);
[[nodiscard]] bool legacyChallenge(const TrustKeys& keys, const uint8_t digest[32], const uint8_t tag[16],
                                   uint8_t e[32]);

}  // namespace installer
