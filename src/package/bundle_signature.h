// The bundle signature part: an Ed25519 signature of a bundle's own bytes
// and of a table of its members.
//
// A member's part 9 covers the member from its part 1 on, and nothing covers
// what lies before the first member: the file header (magic and length) and
// the bundle's parts 18, 21 and 20, which decide the bundle's name and
// version, the record it replaces and which members start disabled. A file
// dropped into a download directory could wrap genuine members in a header
// of its own. The bundle signature part closes that:
//
//   file header, part 18 with its parts, [21], [20], [25], part 26, part 1 ...
//
// It stands directly before the first member's part 1, after the member's
// part 25 if it has one. Its payload:
//
//   0..63   Ed25519 signature, by the key that signs part 9
//   64..    the member table (member_table.h): u16 count, 36-byte rows
//
// The signed message is the SHA-256 of every byte of the file before the
// part's own header (32 bytes), followed by the table's bytes. Parts made
// before members were bound hold the 64 signature bytes alone, over the
// 32-byte digest alone; they still verify, but bind no member, so a device
// that requires signed bundles refuses them. The two messages differ in
// length, so neither signature can stand in for the other; and the signed
// digest always starts with a file magic, a package digest with a part-1
// header, so neither can stand in for a part 9.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/member_table.h"
#include "package/trust_keys.h"

namespace installer {

class PackageStream;

constexpr size_t bundleSignatureLength = 64;
// The longest payload: a signature and a table of maxMemberRows rows.
constexpr size_t maxBundleSignaturePartLength =
    bundleSignatureLength + memberTableCountSize + maxMemberRows * memberRowSize;

// What the signature signs: the head's SHA-256, then the table's bytes
// (none for a part without a table).
std::string bundleSignedMessage(const uint8_t headDigest[32], const uint8_t* table, size_t tableLength);

// REQUIRES: the stream is at a bundle signature part, nothing of its
// payload read yet.
// True when the part is the first part 26 or 1 of the stream, its payload is
// one signature, or one signature and one member table, and that signature
// by `keys` of the digest of everything before the part (and of the table)
// verifies. False too without digests. `table` receives the table when the
// payload holds one, whether or not the signature verifies, and the
// stream's member spans are started then, to check the members against it.
[[nodiscard]] bool verifyBundleSignature(PackageStream& stream, const TrustKeys& keys, MemberTable& table);

}  // namespace installer
