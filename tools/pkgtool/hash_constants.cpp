#include "hash_constants.h"

#include <algorithm>
#include <vector>

namespace {

using Wide = unsigned __int128;

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

// The largest x below 2^42 with x^power <= n, by bisection; 2^42 keeps a
// cube inside 128 bits and is far above the roots needed here.
uint64_t integerRoot(Wide n, int power) {
  uint64_t low = 0, high = uint64_t{1} << 42;
  while (low < high) {
    uint64_t middle = low + (high - low + 1) / 2;
    Wide value = 1;
    for (int i = 0; i < power; ++i) value *= middle;
    if (value <= n) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}

// First 32 bits of the fractional part of p^(1/power): the root of p scaled
// by 2^(32·power), taken modulo 2^32.
uint32_t fractionBits(uint64_t p, int power) { return static_cast<uint32_t>(integerRoot(Wide(p) << (32 * power), power)); }

}  // namespace

LegacyHashConstants deriveHashConstants(unsigned firstIvPrime, unsigned firstKPrime) {
  std::vector<uint64_t> primes = firstPrimes(std::max(firstIvPrime + 7, firstKPrime + 63));
  LegacyHashConstants constants;
  for (unsigned i = 0; i < 8; ++i) constants.iv[i] = fractionBits(primes[firstIvPrime - 1 + i], 2);
  for (unsigned i = 0; i < 64; ++i) constants.k[i] = fractionBits(primes[firstKPrime - 1 + i], 3);
  return constants;
}
