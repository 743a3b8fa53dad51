// Constants for the legacy hash, derived the way the published SHA-256 ones
// are, but from other primes: the initial value from the square roots of
// primes first..first+7, the round constants from the cube roots of primes
// first..first+63 (first 32 bits of each fractional part; primes counted
// from 1 = the prime 2). Primes 1 and 1 give the published SHA-256 values;
// the development trust uses 9 and 65.
#pragma once

#include "package/legacy_hash.h"

namespace installer {

LegacyHashConstants deriveHashConstants(unsigned firstIvPrime, unsigned firstKPrime);

// The development constants of keys/development.trust: primes 9 and 65.
inline LegacyHashConstants developmentHashConstants() { return deriveHashConstants(9, 65); }

}  // namespace installer
