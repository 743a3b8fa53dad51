// A simulated router for the installer's runs, and what the tests look at
// after one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "support/simulated_device.h"

namespace installer {

// The flash is the root file system ("/flash", "/rw" and "/tmp" lie on
// it), of `flashBlocks` blocks and `flashInodes` inodes (0: no limit);
// "/ram" is a RAM disk. The directories every device has are made.
std::unique_ptr<SimulatedDevice> routerDevice(uint64_t flashBlockSize, uint64_t flashBlocks, uint64_t flashInodes = 0);

// The tree below `under` as a run leaves it for good: without the RAM disk
// and the post-run log, which every run rewrites.
std::string settledTree(const SimulatedDevice& device, const std::string& under = "/");

// Bytes that do not compress, so that a package file is as big as its files.
std::string noise(size_t size, uint32_t seed = 1);

}  // namespace installer
