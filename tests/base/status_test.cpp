#include "base/status.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(Status, DefaultIsOk) {
  Status status;
  EXPECT_TRUE(status.isOk());
  EXPECT_EQ(status.toString(), "");
}

TEST(Status, FailureKeepsKindSubjectAndReason) {
  Status status = Status::noSpace("/flash/bin/x", "No space left on device");
  EXPECT_FALSE(status.isOk());
  EXPECT_TRUE(status.is(Status::Kind::NoSpace));
  EXPECT_EQ(status.subject(), "/flash/bin/x");
  EXPECT_EQ(status.toString(), "/flash/bin/x: No space left on device");
  EXPECT_EQ(Status::corrupt("", "bad record").toString(), "bad record");
}

}  // namespace
}  // namespace installer
