#include "package_signer.h"

#include "legacy_signer.h"
#include "package/bundle_signature.h"
#include "package/signature_check.h"
#include "signing.h"

namespace installer {

bool parseSignatureKind(const std::string& text, SignatureKind& kind) {
  if (text == "none") {
    kind = SignatureKind::None;
  } else if (text == "ed25519") {
    kind = SignatureKind::Ed25519;
  } else if (text == "legacy") {
    kind = SignatureKind::Legacy;
  } else if (text == "both") {
    kind = SignatureKind::Both;
  } else {
    return false;
  }
  return true;
}

uint32_t signatureLengthOf(SignatureKind kind) {
  return kind == SignatureKind::Legacy ? legacySignatureLength : fullSignatureLength;
}

bool needsEd25519Key(SignatureKind kind) { return kind == SignatureKind::Ed25519 || kind == SignatureKind::Both; }
bool needsLegacyKey(SignatureKind kind) { return kind == SignatureKind::Legacy || kind == SignatureKind::Both; }

PackageSigner::PackageSigner(const SigningKeys& signingKeys, SignatureKind signatureKind)
    : keys(signingKeys), kind(signatureKind) {}

SignatureCallback PackageSigner::callback() {
  return [this](const uint8_t* digest32, bool) { return sign(digest32); };
}

HeadSignatureCallback PackageSigner::headCallback() {
  return [this](const uint8_t* digest32) { return signHead(digest32); };
}

std::string PackageSigner::signHead(const uint8_t* digest32) {
  uint8_t signature[bundleSignatureLength] = {};
  if (!keys.hasEd25519 || !signing::ed25519Sign(keys.ed25519Seed, digest32, 32, signature)) failure = true;
  return std::string(reinterpret_cast<const char*>(signature), sizeof signature);
}

std::string PackageSigner::sign(const uint8_t* digest32) {
  uint8_t signature[fullSignatureLength] = {};
  bool ok = true;
  if (needsLegacyKey(kind)) ok = keys.hasLegacy && legacySign(keys.legacyScalar, keys.trust, digest32, signature);
  if (ok && needsEd25519Key(kind)) {
    ok = keys.hasEd25519 && signing::ed25519Sign(keys.ed25519Seed, digest32, 32, signature + legacySignatureLength);
  }
  if (!ok) failure = true;
  return std::string(reinterpret_cast<const char*>(signature), signatureLengthOf(kind));
}

}  // namespace installer
