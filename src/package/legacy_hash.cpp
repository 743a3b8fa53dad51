#include "package/legacy_hash.h"

#include <cstring>

namespace installer {

namespace {

uint32_t rotateRight(uint32_t value, unsigned count) { return value >> count | value << (32 - count); }

uint32_t readBigEndian(const uint8_t* bytes) {
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

void writeBigEndian(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// The message, the 0x80 terminator, zero fill and the bit length at the end.
void padBlock(const uint8_t* message, size_t length, uint8_t block[64]) {
  std::memset(block, 0, 64);
  if (length != 0) std::memcpy(block, message, length);
  block[length] = 0x80;
  uint64_t bits = uint64_t(length) * 8;
  for (int i = 0; i < 8; ++i) block[63 - i] = static_cast<uint8_t>(bits >> (8 * i));
}

void expandSchedule(const uint8_t block[64], uint32_t w[64]) {
  for (int t = 0; t < 16; ++t) w[t] = readBigEndian(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    uint32_t s0 = rotateRight(w[t - 15], 7) ^ rotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
    uint32_t s1 = rotateRight(w[t - 2], 17) ^ rotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
}

void compress(const LegacyHashConstants& constants, const uint32_t w[64], uint32_t state[8]) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < 64; ++t) {
    uint32_t sum1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
    uint32_t choose = (e & f) ^ (~e & g);
    uint32_t t1 = h + sum1 + choose + constants.k[t] + w[t];
    uint32_t sum0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
    uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

}  // namespace

bool legacyHash(const LegacyHashConstants& constants, const uint8_t* message, size_t length, uint8_t out[32]) {
  if (length > legacyHashMaxLength) return false;
  uint8_t block[64];
  padBlock(message, length, block);
  uint32_t w[64];
  expandSchedule(block, w);
  uint32_t state[8];
  std::memcpy(state, constants.iv, sizeof state);
  compress(constants, w, state);
  for (int i = 0; i < 8; ++i) writeBigEndian(state[i], out + 4 * i);
  return true;
}

}  // namespace installer
