#include "package/member_table.h"

#include <cstring>

#include "package/package_format.h"
#include "package/package_stream.h"

namespace installer {

std::string encodeMemberTable(const std::vector<MemberRow>& rows) {
  std::string bytes(memberTableCountSize + rows.size() * memberRowSize, '\0');
  uint8_t* out = reinterpret_cast<uint8_t*>(&bytes[0]);
  encodeLE16(out, static_cast<uint16_t>(rows.size()));
  out += memberTableCountSize;
  for (const MemberRow& row : rows) {
    encodeLE32(out, row.length);
    std::memcpy(out + 4, row.sha256, sizeof row.sha256);
    out += memberRowSize;
  }
  return bytes;
}

bool decodeMemberTable(const uint8_t* bytes, size_t n, std::vector<MemberRow>& rows) {
  rows.clear();
  if (n < memberTableCountSize) return false;
  size_t count = decodeLE16(bytes);
  if (count == 0 || count > maxMemberRows || n != memberTableCountSize + count * memberRowSize) return false;
  bytes += memberTableCountSize;
  rows.resize(count);
  for (MemberRow& row : rows) {
    row.length = decodeLE32(bytes);
    std::memcpy(row.sha256, bytes + 4, sizeof row.sha256);
    bytes += memberRowSize;
  }
  return true;
}

bool readMemberTable(PackageStream& stream, MemberTable& table) {
  table = MemberTable();
  uint32_t length = stream.remaining();
  if (stream.currentType != BundleMemberTable || length > maxMemberTableLength) return false;
  std::vector<uint8_t> payload(length);
  stream.read(reinterpret_cast<char*>(payload.data()), static_cast<std::streamsize>(length));
  if (static_cast<uint32_t>(stream.gcount()) != length) return false;
  table.present = decodeMemberTable(payload.data(), length, table.rows);
  return table.present;
}

bool memberMatchesRow(const PackageStream& stream, const MemberTable& table, size_t index) {
  const MemberSpans& spans = stream.memberSpans();
  if (index >= table.rows.size() || spans.closed() != index + 1) return false;
  const MemberSpans::Span& span = spans.last();
  const MemberRow& row = table.rows[index];
  return span.cleanlyPreceded && span.length == row.length &&
         std::memcmp(span.sha256, row.sha256, sizeof row.sha256) == 0;
}

bool everyRowMet(const PackageStream& stream, const MemberTable& table, size_t members) {
  const MemberSpans& spans = stream.memberSpans();
  return members == table.rows.size() && spans.closed() == members && !spans.open() && spans.bytesOutside() == 0;
}

}  // namespace installer
