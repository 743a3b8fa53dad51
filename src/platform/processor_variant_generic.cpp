// Machines without a readable PowerPC version register: the register and
// the flash driver's answer come from the system settings.
#include "platform/processor_variant.h"
#include "platform/system_library.h"

namespace installer {

int processorVariant() {
  const SystemSettings& settings = systemLibrarySettings();
  if (!settings.hasProcessorVersion) return NoProcessorVariant;
  return variantFromProcessor(settings.processorVersion, [&settings](int32_t& result) {
    if (!settings.hasFlashIoctlResult) return false;  // "/dev/flash" cannot be opened
    result = settings.flashIoctlResult;
    return true;
  });
}

}  // namespace installer
