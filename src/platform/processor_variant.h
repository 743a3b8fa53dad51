// The processor variant of the running machine, which decides which of a
// package's per-variant files are installed here.
//
// A file record names variant 0 (every machine) or one of 1..4. The variant
// is derived from the PowerPC processor version register (PVR) and, for two
// processor families, from a flag that the flash driver reports through an
// ioctl. On PowerPC both are read from the hardware; elsewhere they come
// from the system settings that the system library stand-in was opened
// with ("processor-version", "flash-ioctl-result").
#pragma once

#include <cstdint>
#include <functional>

namespace installer {

constexpr int NoProcessorVariant = 0;

// Opens the flash device read-only, issues the variant ioctl, closes it and
// stores the ioctl's return value; false when the device cannot be opened.
using FlashProbe = std::function<bool(int32_t& ioctlResult)>;

// The variant table: 1..4, or NoProcessorVariant. `probe` is called only
// for the processor families that need it.
int variantFromProcessor(uint32_t pvr, const FlashProbe& probe);

// The variant of this machine: 1..4, or NoProcessorVariant when it has none
// (it then installs only files meant for every machine).
int processorVariant();

}  // namespace installer
