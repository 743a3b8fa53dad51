#include "hash_constants.h"

#include <algorithm>
#include <vector>

namespace installer {

namespace {

// Unsigned 128-bit numbers from two 64-bit halves, portable to targets
// without a native 128-bit type; only what the root search needs.
struct Wide {
  uint64_t high = 0;
  uint64_t low = 0;
};

Wide multiply64(uint64_t a, uint64_t b) {
  uint64_t a0 = a & 0xFFFFFFFF, a1 = a >> 32, b0 = b & 0xFFFFFFFF, b1 = b >> 32;
  uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (p00 & 0xFFFFFFFF) | middle << 32};
}

// REQUIRES: the product fits in 128 bits.
Wide multiply(const Wide& a, uint64_t b) {
  Wide r = multiply64(a.low, b);
  r.high += a.high * b;
  return r;
}

bool lessOrEqual(const Wide& a, const Wide& b) { return a.high != b.high ? a.high < b.high : a.low <= b.low; }

std::vector<uint64_t> firstPrimes(unsigned count) {
  std::vector<uint64_t> primes;
  for (uint64_t candidate = 2; primes.size() < count; ++candidate) {
    bool prime = true;
    for (uint64_t p : primes) {
      if (p * p > candidate) break;
      if (candidate % p == 0) prime = false;
    }
    if (prime) primes.push_back(candidate);
  }
  return primes;
}

// First 32 bits of the fractional part of p^(1/power), power 2 or 3: the
// largest x with x^power <= p * 2^(32 power), taken modulo 2^32. Found by
// bisection below 2^42, which keeps a cube inside 128 bits and is far above
// the roots of the small primes used here.
uint32_t fractionBits(uint64_t p, int power) {
  Wide scaled{power == 2 ? p : p << 32, 0};
  uint64_t low = 0, high = uint64_t{1} << 42;
  while (low < high) {
    uint64_t middle = low + (high - low + 1) / 2;
    Wide value{0, middle};
    for (int i = 1; i < power; ++i) value = multiply(value, middle);
    if (lessOrEqual(value, scaled)) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return static_cast<uint32_t>(low);
}

}  // namespace

LegacyHashConstants deriveHashConstants(unsigned firstIvPrime, unsigned firstKPrime) {
  std::vector<uint64_t> primes = firstPrimes(std::max(firstIvPrime + 7, firstKPrime + 63));
  LegacyHashConstants constants;
  for (unsigned i = 0; i < 8; ++i) constants.iv[i] = fractionBits(primes[firstIvPrime - 1 + i], 2);
  for (unsigned i = 0; i < 64; ++i) constants.k[i] = fractionBits(primes[firstKPrime - 1 + i], 3);
  return constants;
}

}  // namespace installer
