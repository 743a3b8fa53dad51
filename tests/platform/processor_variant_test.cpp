#include "platform/processor_variant.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

// Only two families ask the flash driver (rows with no flash device would read
// 4 if the others did): bit 0x10 of its answer, all set when the ioctl fails,
// means variant 2.
TEST(ProcessorVariant, TableAndFlashProbe) {
  constexpr int64_t none = INT64_MIN;
  struct Case {
    uint32_t pvr;
    int64_t flash;
    int variant;
  };
  const Case cases[] = {{0x80830000, none, 1},       {0x808500FF, none, 1}, {0x80860000, none, 0},
                        {0x80820000, none, 0},       {0x00200000, none, 2}, {0xC0210000, none, 2},
                        {0x00110000, none, 0},       {0x80A10000, none, 0}, {0x1302FFFF, none, 3},
                        {0x13030000, none, 0},       {0x80212000, none, 2}, {0x80211010, 0x10, 2},
                        {0x802110FF, 0x7FFFFFEF, 4}, {0x80212100, -1, 2},   {0x802121FF, 0, 4}};
  auto probe = [](int64_t f) { return [f](int32_t& r) { return r = static_cast<int32_t>(f), f != none; }; };
  for (auto [pvr, flash, variant] : cases) EXPECT_EQ(variantFromProcessor(pvr, probe(flash)), variant) << pvr;
}

}  // namespace
}  // namespace installer
