// Assertions on a Status that say, when they fail, what the Status was.
#pragma once

#include <gtest/gtest.h>

#include "base/status.h"

namespace installer {

// EXPECT_TRUE(isOk(call())) prints the failure's subject and reason.
inline testing::AssertionResult isOk(const Status& status) {
  if (status.isOk()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "failed: " << status.toString();
}

// EXPECT_TRUE(failsWith(call(), Status::Kind::NotFound)).
inline testing::AssertionResult failsWith(const Status& status, Status::Kind kind) {
  if (status.is(kind)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << (status.isOk() ? std::string("succeeded")
                                                       : "failed otherwise: " + status.toString());
}

}  // namespace installer
