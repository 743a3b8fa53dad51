// The hash of the legacy signature scheme: one SHA-256 compression over a
// single padded block, with our own initial hash value and round constants in
// place of the published ones. It only ever hashes short messages (a 20-byte
// digest, a 32-byte curve coordinate), so one block is all it needs.
//
// The constants are build-time configuration (the trust file); the caller
// owns them and passes them in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace installer {

struct LegacyHashConstants {
  uint32_t iv[8];  // initial hash value H0..H7
  uint32_t k[64];  // round constants K0..K63
};

// Longest message that fits the single block with its padding.
constexpr size_t legacyHashMaxLength = 55;

// Writes the 32-byte hash of `message` to `out` (eight big-endian words).
// Returns false, writing nothing, when the message is longer than
// legacyHashMaxLength.
[[nodiscard]] bool legacyHash(const LegacyHashConstants& constants, const uint8_t* message, size_t length,
                              uint8_t out[32]);

}  // namespace installer
