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

}  // namespace installer
