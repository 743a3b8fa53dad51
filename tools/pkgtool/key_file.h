// Trust files and key files as pkgtool reads and writes them.
//
// A trust file holds the public side, in the format the build compiles in
// (cmake/TrustFile.cmake): "ed25519-public-key", and optionally together
// "legacy-public-key", "legacy-hash-iv", "legacy-hash-k". A key file holds the
// private keys, "ed25519-private-key" (the 32-byte RFC 8032 seed) and
// "legacy-private-key" (the scalar k, 32 bytes little-endian), plus the trust
// lines that go with them, so that it alone is enough to sign. "#" starts a
// comment; each setting is on one line and given once. A zero byte
// anywhere makes the file malformed.
#pragma once

#include <string>

#include "base/status.h"
#include "package/trust_keys.h"
#include "platform/env.h"

namespace installer {

struct SigningKeys {
  bool hasEd25519 = false;
  uint8_t ed25519Seed[32] = {};
  bool hasLegacy = false;
  uint8_t legacyScalar[32] = {};
  TrustKeys trust;  // public keys and legacy hash constants of these keys
};

// Both fail when the file cannot be read or is malformed (the subject then
// "FILE:LINE" where a line is at fault), and leave `keys` as they were.
// They read through `env`.
Status readTrustFile(const std::string& path, TrustKeys& keys, Env& env = Env::posix());
// Also checks that the public keys given match the private ones.
Status readKeyFile(const std::string& path, SigningKeys& keys, Env& env = Env::posix());

// The lines of a trust file for `keys` (legacy lines only when it has them).
std::string formatTrustFile(const TrustKeys& keys);
// The lines of a key file: the private keys, then the trust lines.
std::string formatKeyFile(const SigningKeys& keys);

// Parses "legacy-hash-iv"/"legacy-hash-k" style word lists: exactly `count`
// words of 8 hex digits separated by blanks.
[[nodiscard]] bool parseHashWords(const std::string& text, uint32_t* words, size_t count);

}  // namespace installer
