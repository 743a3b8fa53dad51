#include "package/trust_keys.h"

#include <cstring>

#include "trust_config.h"

namespace installer {

namespace {

TrustKeys loadCompiledKeys() {
  TrustKeys keys;
  std::memcpy(keys.ed25519Key, trust_config::ed25519PublicKey, sizeof keys.ed25519Key);
  keys.hasLegacyKeys = trust_config::hasLegacyKeys;
  std::memcpy(keys.legacyKey, trust_config::legacyPublicKey, sizeof keys.legacyKey);
  std::memcpy(keys.legacyHash.iv, trust_config::legacyHashIv, sizeof keys.legacyHash.iv);
  std::memcpy(keys.legacyHash.k, trust_config::legacyHashK, sizeof keys.legacyHash.k);
  return keys;
}

}  // namespace

const TrustKeys& compiledTrustKeys() {
  static const TrustKeys keys = loadCompiledKeys();
  return keys;
}

const char* compiledTrustFile() { return trust_config::trustFile; }

bool trustsDevelopmentKey(const TrustKeys& keys) {
  const uint8_t* ed25519 = trust_config::developmentEd25519PublicKey;
  const uint8_t* legacy = trust_config::developmentLegacyPublicKey;
  return std::memcmp(keys.ed25519Key, ed25519, sizeof keys.ed25519Key) == 0 ||
         (keys.hasLegacyKeys && std::memcmp(keys.legacyKey, legacy, sizeof keys.legacyKey) == 0);
}

}  // namespace installer
