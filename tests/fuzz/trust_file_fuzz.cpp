// pkgtool's reader of trust files (what the build compiles in) and of key
// files. A trust file it accepts must read back the same from the text
// pkgtool writes for it.
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "key_file.h"

using namespace installer;

namespace {

bool sameKeys(const TrustKeys& a, const TrustKeys& b) {
  return std::memcmp(a.ed25519Key, b.ed25519Key, 32) == 0 && a.hasLegacyKeys == b.hasLegacyKeys &&
         (!a.hasLegacyKeys || (std::memcmp(a.legacyKey, b.legacyKey, 32) == 0 &&
                               std::memcmp(a.legacyHash.iv, b.legacyHash.iv, sizeof a.legacyHash.iv) == 0 &&
                               std::memcmp(a.legacyHash.k, b.legacyHash.k, sizeof a.legacyHash.k) == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  if (!env.addFile("/keys/file", textOf(data, size)).isOk()) return 0;
  SigningKeys signing;
  static_cast<void>(readKeyFile("/keys/file", signing, env));
  TrustKeys keys, again;
  if (!readTrustFile("/keys/file", keys, env).isOk()) return 0;
  if (!env.addFile("/keys/again", formatTrustFile(keys)).isOk() || !readTrustFile("/keys/again", again, env).isOk() ||
      !sameKeys(keys, again)) {
    std::abort();
  }
  return 0;
}
