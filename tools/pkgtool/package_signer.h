// The signature part that `pkgtool build` writes, made from a key file.
//
//   none     no part 9 at all
//   ed25519  132 bytes: the legacy half zero, the Ed25519 signature of the
//            32-byte digest result
//   legacy   68 bytes: the legacy signature of the first 20 digest bytes
//   both     132 bytes: legacy, then Ed25519
#pragma once

#include <string>

#include "key_file.h"
#include "package_builder.h"

namespace installer {

enum class SignatureKind { None, Ed25519, Legacy, Both };

// "none", "ed25519", "legacy", "both"; false for anything else.
[[nodiscard]] bool parseSignatureKind(const std::string& text, SignatureKind& kind);
uint32_t signatureLengthOf(SignatureKind kind);
bool needsEd25519Key(SignatureKind kind);
bool needsLegacyKey(SignatureKind kind);

// Signs through a PackageWriter callback; it must outlive the callback. A signing failure (no random
// bytes, a key the crypto library refuses) cannot stop the writer, so it is
// latched here: check failed() after building.
class PackageSigner {
 public:
  PackageSigner(const SigningKeys& keys, SignatureKind kind);

  SignatureCallback callback();
  // Signs a bundle's head with the Ed25519 key, whatever the kind.
  HeadSignatureCallback headCallback();
  bool failed() const { return failure; }

 private:
  std::string sign(const uint8_t* digest32);
  std::string signHead(const uint8_t* digest32);

  SigningKeys keys;
  SignatureKind kind;
  bool failure = false;
};

}  // namespace installer
