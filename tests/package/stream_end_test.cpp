#include "package/stream_end.h"

#include <gtest/gtest.h>

#include "support/package_streams.h"

namespace installer {
namespace {

TEST(EndedAtDeclaredLength, OnlyWhenThePartsFillTheDeclaredLengthExactly) {
  // Change to the header's length field, the last part's length field, bytes after it.
  struct Case {
    int change;
    uint32_t length;
    std::string after;
    bool ended;
  };
  const Case cases[] = {
      {0, 2, "", true}, {+1, 2, "", false}, {-1, 2, "", false}, {0, 2, "abc", false}, {-2, 10, "", false}};
  for (const auto& [change, length, after, ended] : cases) {
    PackageWriter writer;
    writer.addPartWithLength(Note, length, "ab");
    writer.setLengthField(static_cast<uint32_t>(writer.bytes().size() - 8 + change));
    writer.addRaw(after);
    EXPECT_EQ(endedAtDeclaredLength(OpenedStream(writer.bytes(), {}).stream), ended) << change << " " << after;
  }
}

}  // namespace
}  // namespace installer
