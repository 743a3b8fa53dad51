#include "package/signature_check.h"

#include <cstring>

#include "package/curve25519.h"
#include "platform/crypto.h"

namespace installer {

size_t signatureLength(uint32_t partLength) {
  if (partLength >= fullSignatureLength) return fullSignatureLength;
  if (partLength >= legacySignatureLength) return legacySignatureLength;
  return 0;
}

bool legacyTag(const TrustKeys& keys, const uint8_t pointU[32], uint8_t tag[16]) {
  uint8_t hash[32];
  if (!keys.hasLegacyKeys || !legacyHash(keys.legacyHash, pointU, 32, hash)) return false;
  std::memcpy(tag, hash, 16);
  return true;
}

bool legacyChallenge(const TrustKeys& keys, const uint8_t digest[32], const uint8_t tag[16], uint8_t e[32]) {
  // The legacy scheme signs the 20 bytes of a SHA-1 digest, whatever digest
  // the package carries.
  if (!keys.hasLegacyKeys || !legacyHash(keys.legacyHash, digest, 20, e)) return false;
  for (int i = 0; i < 16; ++i) e[8 + i] ^= tag[i];
  // Clamped as an X25519 scalar.
  e[0] &= 0xF8;
  e[31] = (e[31] & 0x7F) | 0x40;
  return true;
}

namespace {

bool legacySignatureValid(const uint8_t* signature, const uint8_t digest[32], const TrustKeys& keys) {
  const uint8_t* tag = signature + 20;
  const uint8_t* s = signature + 36;
  uint8_t e[32], point[32], expectedTag[16];
  return legacyChallenge(keys, digest, tag, e) && legacyCombine(keys.legacyKey, s, e, point) &&
         legacyTag(keys, point, expectedTag) && std::memcmp(expectedTag, tag, 16) == 0;
}

}  // namespace

SignatureCheck checkSignature(const uint8_t* signature, size_t length, const uint8_t digest[32], bool legacyAllowed,
                              const TrustKeys& keys, bool checkBoth) {
  SignatureCheck check;
  check.legacyAllowed = legacyAllowed;
  if (length != fullSignatureLength && length != legacySignatureLength) return check;
  check.length = length;
  if (length == fullSignatureLength) {
    asn1::blob key{keys.ed25519Key, keys.ed25519Key + 32};
    asn1::blob message{digest, digest + 32};
    asn1::blob ed25519{signature + legacySignatureLength, signature + fullSignatureLength};
    check.ed25519Valid = eddsa::verify(key, message, ed25519) != 0;
  }
  if (!check.ed25519Valid || checkBoth) {
    check.legacyChecked = true;
    check.legacyValid = legacySignatureValid(signature, digest, keys);
  }
  return check;
}

}  // namespace installer
