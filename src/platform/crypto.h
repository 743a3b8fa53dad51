// Digests and Ed25519 verification from the platform's crypto library.
//
// A digest object hashes the bytes fed since it was created or last
// finished; `finish` writes the digest and starts afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace installer {

class Digest {
 public:
  enum Algorithm { Sha1, Sha256 };
  explicit Digest(Algorithm algorithm);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  void update(const void* bytes, size_t length);
  // Writes 20 (SHA-1) or 32 (SHA-256) bytes into `out` and starts afresh.
  // Returns the number of bytes written.
  size_t finish(uint8_t* out);
  size_t size() const;
  // Takes over the state of `other` (of the same algorithm): from here on
  // this digest goes on from the bytes `other` has been fed, and the two
  // run apart. Lets a caller finish one digest over a stretch of bytes and
  // go on hashing past it without feeding the stretch twice.
  void copyFrom(const Digest& other);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

namespace asn1 {
// A run of bytes: first byte and one past the last.
struct blob {
  const uint8_t* first;
  const uint8_t* last;
};
}  // namespace asn1

namespace eddsa {
// Ed25519 (RFC 8032) verification. Non-zero when `signature` (64 bytes) is a
// valid signature of `message` by `key` (32 bytes).
int verify(asn1::blob key, asn1::blob message, asn1::blob signature);
}  // namespace eddsa

}  // namespace installer
