// The keys a package signature is checked against: the Ed25519 public key and,
// when the build has them, the legacy public key with the legacy hash
// constants. The installer uses the set compiled in from the build's trust
// file; tools may check against another set they read at run time.
#pragma once

#include <cstdint>

#include "package/legacy_hash.h"

namespace installer {

struct TrustKeys {
  uint8_t ed25519Key[32] = {};
  bool hasLegacyKeys = false;  // false: no legacy signature verifies
  uint8_t legacyKey[32] = {};  // u-coordinate of K, little-endian
  LegacyHashConstants legacyHash = {};
};

// The keys of the trust file the program was built with, and that file's
// name as the build gave it.
const TrustKeys& compiledTrustKeys();
const char* compiledTrustFile();

// Whether `keys` take signatures by the development key committed with the
// sources (keys/development.trust, keys/development.key): anyone can make
// those, so nothing such keys accept is vouched for.
bool trustsDevelopmentKey(const TrustKeys& keys);

}  // namespace installer
