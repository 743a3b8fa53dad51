#include "platform/processor_variant.h"

#include <gtest/gtest.h>

#include "platform/system_settings.h"

namespace {

FlashProbe flashAnswers(int32_t value) {
  return [value](int32_t& result) {
    result = value;
    return true;
  };
}

bool flashMissing(int32_t&) { return false; }

TEST(ProcessorVariant, Table) {
  struct Case {
    uint32_t pvr;
    int variant;
  } cases[] = {
      {0x80830000, 1}, {0x80840123, 1}, {0x808500FF, 1}, {0x80860000, NoProcessorVariant},
      {0x00200000, 2}, {0x80200000, 2}, {0x00110000, NoProcessorVariant}, {0x80A10000, NoProcessorVariant}, {0xC0210000, 2},
      {0x13020000, 3}, {0x1302FFFF, 3}, {0x13030000, NoProcessorVariant}, {0x00000000, NoProcessorVariant},
  };
  for (const Case& c : cases) {
    int probes = 0;
    FlashProbe counting = [&probes](int32_t& result) {
      ++probes;
      result = 0;
      return true;
    };
    EXPECT_EQ(variantFromProcessor(c.pvr, counting), c.variant) << std::hex << c.pvr;
    EXPECT_EQ(probes, 0) << "only two families ask the flash driver";
  }
}

TEST(ProcessorVariant, FlashDriverDecidesForTwoFamilies) {
  for (uint32_t pvr : {0x80211010u, 0x80211000u, 0x802110FFu, 0x80212100u}) {
    EXPECT_EQ(variantFromProcessor(pvr, flashAnswers(0x10)), 2) << std::hex << pvr;
    EXPECT_EQ(variantFromProcessor(pvr, flashAnswers(0x7FFFFFEF)), 4) << std::hex << pvr;
    EXPECT_EQ(variantFromProcessor(pvr, flashAnswers(0)), 4) << std::hex << pvr;
    EXPECT_EQ(variantFromProcessor(pvr, flashAnswers(-1)), 2) << "a failing ioctl has the bit set";
    EXPECT_EQ(variantFromProcessor(pvr, flashMissing), 4) << std::hex << pvr;
  }
  // Neighbours of those families go by the ordinary rules.
  EXPECT_EQ(variantFromProcessor(0x80212000, flashMissing), 2);
  EXPECT_EQ(variantFromProcessor(0x80212200, flashMissing), 2);
}

#ifndef __powerpc__
// Restores the process's settings after a test changed them.
class SettingsOverride {
 public:
  SettingsOverride() : saved(systemSettings()) {}
  ~SettingsOverride() { systemSettings() = saved; }

 private:
  SystemSettings saved;
};

TEST(ProcessorVariant, ComesFromTheSettingsOffPowerPc) {
  SettingsOverride restore;
  SystemSettings& settings = systemSettings();
  settings.hasProcessorVersion = false;
  settings.hasFlashIoctlResult = true;
  EXPECT_EQ(processorVariant(), NoProcessorVariant);
  settings.hasProcessorVersion = true;
  settings.processorVersion = 0x13020000;
  EXPECT_EQ(processorVariant(), 3);
  settings.processorVersion = 0x80211010;
  settings.flashIoctlResult = 0x10;
  EXPECT_EQ(processorVariant(), 2);
  settings.flashIoctlResult = 0x20;
  EXPECT_EQ(processorVariant(), 4);
  settings.hasFlashIoctlResult = false;
  settings.flashIoctlResult = 0x10;
  EXPECT_EQ(processorVariant(), 4) << "no flash device";
}
#endif

}  // namespace
