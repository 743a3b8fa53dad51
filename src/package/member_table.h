// The member table of a bundle (part 27): one row per member, in the order
// the members are carried, that binds every byte of each member to the
// bundle signature.
//
// Each member carries its own part 9 over its own bytes, so a signature of
// the bundle's own parts alone would leave the members interchangeable: a
// genuine member could be swapped for any other genuine package of the
// same length (an older, vulnerable version; a package the bundle never
// named), dropped, repeated or moved. The table closes that. It is a part
// of the bundle's head, after its member list and before the bundle
// signature part, which signs it with the rest of the head
// (bundle_signature.h). Its payload:
//
//   u16 count, then count rows of 36 bytes:
//     0..3   u32 length of the member as carried
//     4..35  SHA-256 of those bytes
//
// A member as carried runs from its part-1 header through the last byte of
// its part 9 (member_spans.h). Between two members only an empty part 25
// may stand (the digest switch a SHA-256 member carries), and nothing
// after the last member; the signature part itself stands directly before
// the first member's part 1. Together with the signed file header, whose
// length fixes where the file ends, every byte of the file is then signed
// or has its one allowed value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace installer {

class PackageStream;

struct MemberRow {
  uint32_t length = 0;
  uint8_t sha256[32] = {};
};

// The rows of a bundle's member table, when it has one.
struct MemberTable {
  bool present = false;
  std::vector<MemberRow> rows;
};

constexpr size_t memberTableCountSize = 2;
constexpr size_t memberRowSize = 36;
// As many members as a member list (part 20) may name.
constexpr size_t maxMemberRows = 1024;
constexpr size_t maxMemberTableLength = memberTableCountSize + maxMemberRows * memberRowSize;

std::string encodeMemberTable(const std::vector<MemberRow>& rows);
// False unless `bytes` hold exactly one table of 1 to maxMemberRows rows
// (a signed bundle carries at least one member).
[[nodiscard]] bool decodeMemberTable(const uint8_t* bytes, size_t n, std::vector<MemberRow>& rows);

// REQUIRES: the stream is at a member table part, nothing of its payload
// read yet.
// Reads it into `table`; false, with `table` not present, unless the
// payload is exactly one table.
[[nodiscard]] bool readMemberTable(PackageStream& stream, MemberTable& table);

// REQUIRES: the stream's member spans were started at the bundle signature
// part that vouched for the table, and the stream has just moved past the
// part 9 of member number `index` (0 for the first).
// True when that member has a row, was carried exactly as the row says,
// and nothing but an empty part 25 stood before it since the member before.
[[nodiscard]] bool memberMatchesRow(const PackageStream& stream, const MemberTable& table, size_t index);

// REQUIRES: as above; the stream stands after the last member.
// True when `members` members were read, as many as the table has rows,
// and nothing has followed the last of them.
[[nodiscard]] bool everyRowMet(const PackageStream& stream, const MemberTable& table, size_t members);

}  // namespace installer
