// The bundle signature part: an Ed25519 signature of a bundle's own bytes.
//
// A member's part 9 covers the member from its part 1 on, and nothing covers
// what lies before the first member: the file header (magic and length) and
// the bundle's parts 18, 21 and 20, which decide the bundle's name and
// version, the record it replaces and which members start disabled. A file
// dropped into a download directory could wrap genuine members in a header
// of its own. The bundle signature part closes that:
//
//   file header, part 18 with its parts, [21], [20], [27], [25], part 26,
//   part 1 ...
//
// Its payload is 64 bytes, the Ed25519 signature (by the key that signs
// part 9) of the SHA-256 of every byte of the file before the part's own
// header. It stands directly before the first member's part 1, after the
// member's part 25 if it has one. The signed digest always starts with a
// file magic, a package digest with a part-1 header, so neither kind of
// signature can stand in for the other. The member table (part 27,
// member_table.h) lies in the signed head, and binds the members in turn.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/trust_keys.h"

namespace installer {

class PackageStream;

constexpr size_t bundleSignatureLength = 64;

// REQUIRES: the stream is at a bundle signature part, nothing of its
// payload read yet.
// True when the part is the first part 26 or 1 of the stream, its payload is
// exactly one signature, and that signature by `keys` of the digest of
// everything before it verifies. False too without digests.
[[nodiscard]] bool verifyBundleSignature(PackageStream& stream, const TrustKeys& keys);

}  // namespace installer
