// PowerPC: the processor version register and the flash driver themselves.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/device_paths.h"
#include "platform/processor_variant.h"

namespace installer {

namespace {

// _IO('F', 43): asks the flash driver for its board flags.
constexpr unsigned long flashVariantRequest = 0x2000462B;

uint32_t readProcessorVersion() {
  uint32_t pvr = 0;
  asm volatile("mfspr %0, 287" : "=r"(pvr));  // SPR 287 is the PVR
  return pvr;
}

bool probeFlash(int32_t& result) {
  int descriptor = open(paths::flashDevice, O_RDONLY);
  if (descriptor < 0) return false;
  result = ioctl(descriptor, flashVariantRequest, 0);
  close(descriptor);
  return true;
}

}  // namespace

int processorVariant() { return variantFromProcessor(readProcessorVersion(), probeFlash); }

}  // namespace installer
