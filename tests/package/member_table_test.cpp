#include "package/member_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "support/package_streams.h"

namespace installer {
namespace {

// A table of `rows` rows (a count of 0 for none).
std::string table(size_t rows) {
  std::string bytes = encodeMemberTable(std::vector<MemberRow>(rows == 0 ? 1 : rows));
  if (rows == 0) bytes.resize(memberTableCountSize), bytes[0] = 0;
  return bytes;
}

// The part holds exactly one table of 1 to 1024 rows, or is no table; so
// does a part that the end of the file cuts short.
TEST(MemberTable, ReadsExactlyOneTableOfOneTo1024Rows) {
  // payload, the part's length field when it says more, rows read (-1: no table)
  struct Case {
    std::string payload;
    uint32_t declared;
    int rows;
  };
  const Case cases[] = {
      {"", 0, -1},
      {table(0), 0, -1},
      {table(1), 0, 1},
      {table(2).substr(1), 0, -1},
      {table(2) + '\0', 0, -1},
      {table(maxMemberRows), 0, maxMemberRows},
      {table(maxMemberRows + 1), 0, -1},
      {table(1).substr(0, 10), 38, -1},
  };
  for (const auto& [payload, declared, rows] : cases) {
    SCOPED_TRACE(testing::Message() << payload.size() << " bytes");
    PackageWriter writer;
    writer.addPartWithLength(BundleMemberTable, std::max(declared, static_cast<uint32_t>(payload.size())), payload);
    OpenedStream opened(writer.bytes(), {BundleMemberTable});
    MemberTable read;
    EXPECT_EQ(readMemberTable(opened.stream, read), rows > 0);
    EXPECT_EQ(read.present ? static_cast<int>(read.rows.size()) : -1, rows);
  }
}

}  // namespace
}  // namespace installer
