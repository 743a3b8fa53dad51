#include "platform/processor_variant.h"

namespace installer {

namespace {

// Processor families whose variant depends on the flash driver.
bool asksFlashDriver(uint32_t pvr) {
  uint32_t family = pvr & 0xFFFFFF00;
  return family == 0x80211000 || family == 0x80212100;
}

// Set in the flash ioctl's result on machines of variant 2. A failing ioctl
// (-1) has every bit set and so counts as variant 2.
constexpr int32_t flashVariantBit = 0x10;

}  // namespace

int variantFromProcessor(uint32_t pvr, const FlashProbe& probe) {
  if (asksFlashDriver(pvr)) {
    int32_t result = 0;
    if (!probe || !probe(result)) return 4;
    return (result & flashVariantBit) != 0 ? 2 : 4;
  }
  uint32_t version = pvr >> 16;
  uint32_t low = version & 0xFF;
  if (low > 0x21 && (low == 0x83 || low == 0x84 || low == 0x85)) return 1;
  if (low <= 0x21 && (version & 0xE0) != 0) return 2;
  if (version == 0x1302) return 3;
  return NoProcessorVariant;
}

}  // namespace installer
