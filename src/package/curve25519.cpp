#include "package/curve25519.h"

#include <cstring>

namespace installer {

// Field elements hold sixteen signed limbs of 16 bits in 64-bit integers, so a
// product of two elements fits without any carry tricks: readable and portable
// to 32-bit targets. Point arithmetic for the full points (s·K + e·B) runs on
// the twisted Edwards form of the curve, whose addition law is complete; the
// result is mapped back to the Montgomery u-coordinate.

namespace {

struct FieldElement {
  int64_t limb[16];
};

FieldElement fromSmall(int64_t value) {
  FieldElement r{};
  r.limb[0] = value;
  return r;
}

// Brings every limb back to 16 bits; the carry out of the top limb wraps to
// the bottom times 38, because 2^256 = 38 (mod p).
void carry(FieldElement& a) {
  for (int i = 0; i < 16; ++i) {
    a.limb[i] += 1 << 16;
    int64_t c = a.limb[i] >> 16;
    if (i < 15) {
      a.limb[i + 1] += c - 1;
    } else {
      a.limb[0] += 38 * (c - 1);
    }
    a.limb[i] -= c * (1 << 16);
  }
}

// Swaps a and b when `swap` is 1, without branching on it.
void conditionalSwap(FieldElement& a, FieldElement& b, int64_t swap) {
  int64_t mask = -swap;
  for (int i = 0; i < 16; ++i) {
    int64_t t = mask & (a.limb[i] ^ b.limb[i]);
    a.limb[i] ^= t;
    b.limb[i] ^= t;
  }
}

// Little-endian bytes, fully reduced below p.
void pack(const FieldElement& a, uint8_t out[32]) {
  FieldElement t = a;
  carry(t);
  carry(t);
  carry(t);
  // Subtract p up to twice, keeping the difference when it does not borrow.
  for (int round = 0; round < 2; ++round) {
    FieldElement m{};
    m.limb[0] = t.limb[0] - 0xffed;
    for (int i = 1; i < 15; ++i) {
      m.limb[i] = t.limb[i] - 0xffff - ((m.limb[i - 1] >> 16) & 1);
      m.limb[i - 1] &= 0xffff;
    }
    m.limb[15] = t.limb[15] - 0x7fff - ((m.limb[14] >> 16) & 1);
    int64_t borrow = (m.limb[15] >> 16) & 1;
    m.limb[14] &= 0xffff;
    conditionalSwap(t, m, 1 - borrow);
  }
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = static_cast<uint8_t>(t.limb[i] & 0xff);
    out[2 * i + 1] = static_cast<uint8_t>((t.limb[i] >> 8) & 0xff);
  }
}

// Little-endian bytes; the top bit is ignored, as RFC 7748 decodes u.
FieldElement unpack(const uint8_t in[32]) {
  FieldElement r{};
  for (int i = 0; i < 16; ++i) r.limb[i] = in[2 * i] + (int64_t(in[2 * i + 1]) << 8);
  r.limb[15] &= 0x7fff;
  return r;
}

FieldElement add(const FieldElement& a, const FieldElement& b) {
  FieldElement r;
  for (int i = 0; i < 16; ++i) r.limb[i] = a.limb[i] + b.limb[i];
  return r;
}

FieldElement subtract(const FieldElement& a, const FieldElement& b) {
  FieldElement r;
  for (int i = 0; i < 16; ++i) r.limb[i] = a.limb[i] - b.limb[i];
  return r;
}

FieldElement multiply(const FieldElement& a, const FieldElement& b) {
  int64_t wide[31] = {};
  for (int i = 0; i < 16; ++i) {
    for (int j = 0; j < 16; ++j) wide[i + j] += a.limb[i] * b.limb[j];
  }
  for (int i = 0; i < 15; ++i) wide[i] += 38 * wide[i + 16];
  FieldElement r;
  std::memcpy(r.limb, wide, sizeof r.limb);
  carry(r);
  carry(r);
  return r;
}

FieldElement square(const FieldElement& a) { return multiply(a, a); }

// a^exponent, the exponent as 32 little-endian bytes.
FieldElement power(const FieldElement& a, const uint8_t exponent[32]) {
  FieldElement r = fromSmall(1);
  for (int bit = 255; bit >= 0; --bit) {
    r = square(r);
    if ((exponent[bit / 8] >> (bit % 8)) & 1) r = multiply(r, a);
  }
  return r;
}

// Exponents as little-endian bytes: the low byte, thirty 0xff, the high byte.
struct Exponent {
  uint8_t bytes[32];
  Exponent(uint8_t low, uint8_t high) {
    std::memset(bytes, 0xff, sizeof bytes);
    bytes[0] = low;
    bytes[31] = high;
  }
};

const Exponent inverseExponent(0xeb, 0x7f);       // p - 2 = 2^255 - 21
const Exponent squareRootExponent(0xfe, 0x0f);    // (p + 3) / 8 = 2^252 - 2
const Exponent minusOneRootExponent(0xfb, 0x1f);  // (p - 1) / 4 = 2^253 - 5

// 1/a; 0 for a = 0.
FieldElement invert(const FieldElement& a) { return power(a, inverseExponent.bytes); }

bool equal(const FieldElement& a, const FieldElement& b) {
  uint8_t x[32], y[32];
  pack(a, x);
  pack(b, y);
  return std::memcmp(x, y, 32) == 0;
}

bool isOdd(const FieldElement& a) {
  uint8_t bytes[32];
  pack(a, bytes);
  return bytes[0] & 1;
}

bool isZero(const FieldElement& a) { return equal(a, fromSmall(0)); }

// A square root of a, when one exists. Since p = 5 (mod 8), a^((p+3)/8) is a
// root of a or of -a; in the second case multiplying by sqrt(-1) fixes it.
bool squareRoot(const FieldElement& a, FieldElement& root) {
  FieldElement r = power(a, squareRootExponent.bytes);
  if (equal(square(r), a)) {
    root = r;
    return true;
  }
  // 2 is not a square mod p, so 2^((p-1)/4) squares to -1.
  r = multiply(r, power(fromSmall(2), minusOneRootExponent.bytes));
  if (!equal(square(r), a)) return false;
  root = r;
  return true;
}

// The odd square root of u^3 + 486662 u^2 + u: the v the scheme pairs with u.
bool oddCurveRoot(const FieldElement& u, FieldElement& v) {
  FieldElement u2 = square(u);
  FieldElement rhs = add(add(multiply(u2, u), multiply(fromSmall(486662), u2)), u);
  if (!squareRoot(rhs, v)) return false;
  if (!isOdd(v)) v = subtract(fromSmall(0), v);
  return isOdd(v);  // false only for v = 0
}

// The Edwards curve -x^2 + y^2 = 1 + d x^2 y^2 is birationally equivalent:
// x = c u / v, y = (u - 1) / (u + 1), with c a square root of -486664.
// Either root serves, as long as the way back uses the same one.
struct EdwardsCurve {
  FieldElement twoD;
  FieldElement c = fromSmall(0);
  EdwardsCurve() {
    FieldElement d = multiply(fromSmall(-121665), invert(fromSmall(121666)));
    twoD = add(d, d);
    // -486664 is a square mod p, so this always finds c.
    bool found = squareRoot(fromSmall(-486664), c);
    (void)found;
  }
};

// Extended coordinates: x = X/Z, y = Y/Z, x y = T/Z.
struct EdwardsPoint {
  FieldElement x, y, z, t;
};

EdwardsPoint identity() { return {fromSmall(0), fromSmall(1), fromSmall(1), fromSmall(0)}; }

// The unified addition law; complete on this curve, so it also doubles and
// handles the identity.
EdwardsPoint addPoints(const EdwardsCurve& curve, const EdwardsPoint& p, const EdwardsPoint& q) {
  FieldElement a = multiply(subtract(p.y, p.x), subtract(q.y, q.x));
  FieldElement b = multiply(add(p.y, p.x), add(q.y, q.x));
  FieldElement c = multiply(multiply(p.t, q.t), curve.twoD);
  FieldElement d = multiply(p.z, q.z);
  d = add(d, d);
  FieldElement e = subtract(b, a), f = subtract(d, c), g = add(d, c), h = add(b, a);
  return {multiply(e, f), multiply(h, g), multiply(g, f), multiply(e, h)};
}

void conditionalSwap(EdwardsPoint& p, EdwardsPoint& q, int64_t swap) {
  conditionalSwap(p.x, q.x, swap);
  conditionalSwap(p.y, q.y, swap);
  conditionalSwap(p.z, q.z, swap);
  conditionalSwap(p.t, q.t, swap);
}

// scalar · p over all 256 bits, the same work whatever the scalar's bits.
EdwardsPoint multiplyPoint(const EdwardsCurve& curve, const EdwardsPoint& p, const uint8_t scalar[32]) {
  EdwardsPoint sum = identity();
  EdwardsPoint other = p;
  for (int bit = 255; bit >= 0; --bit) {
    int64_t b = (scalar[bit / 8] >> (bit % 8)) & 1;
    conditionalSwap(sum, other, b);
    other = addPoints(curve, other, sum);
    sum = addPoints(curve, sum, sum);
    conditionalSwap(sum, other, b);
  }
  return sum;
}

// The Montgomery point (u, odd v) on the Edwards curve; false when there is
// no such point of order above 2.
bool fromMontgomery(const EdwardsCurve& curve, const uint8_t uBytes[32], EdwardsPoint& point) {
  FieldElement u = unpack(uBytes);
  FieldElement v;
  FieldElement uPlusOne = add(u, fromSmall(1));
  if (!oddCurveRoot(u, v) || isZero(uPlusOne)) return false;
  FieldElement x = multiply(multiply(curve.c, u), invert(v));
  FieldElement y = multiply(subtract(u, fromSmall(1)), invert(uPlusOne));
  point = {x, y, fromSmall(1), multiply(x, y)};
  return true;
}

// u = (1 + y) / (1 - y) = (Z + Y) / (Z - Y); the identity gives 0.
FieldElement montgomeryU(const EdwardsPoint& p) { return multiply(add(p.z, p.y), invert(subtract(p.z, p.y))); }

const uint8_t basePointU[32] = {9};

}  // namespace

bool legacyCombine(const uint8_t key[32], const uint8_t s[32], const uint8_t e[32], uint8_t out[32]) {
  EdwardsCurve curve;
  EdwardsPoint k, b;
  if (!fromMontgomery(curve, key, k) || !fromMontgomery(curve, basePointU, b)) return false;
  EdwardsPoint sum = addPoints(curve, multiplyPoint(curve, k, s), multiplyPoint(curve, b, e));
  pack(montgomeryU(sum), out);
  return true;
}

void legacyBaseMultiple(const uint8_t k[32], uint8_t u[32], bool& vIsOdd) {
  EdwardsCurve curve;
  EdwardsPoint b;
  bool valid = fromMontgomery(curve, basePointU, b);  // B is always on the curve
  (void)valid;
  EdwardsPoint p = multiplyPoint(curve, b, k);
  FieldElement zInverse = invert(p.z);
  FieldElement x = multiply(p.x, zInverse);
  FieldElement uValue = montgomeryU(p);
  // v = c u / x, the inverse of the map into the Edwards form.
  FieldElement v = multiply(multiply(curve.c, uValue), invert(x));
  pack(uValue, u);
  vIsOdd = isOdd(v);
}

}  // namespace installer
