#include "support/router_device.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace installer {

std::unique_ptr<SimulatedDevice> routerDevice(uint64_t flashBlockSize, uint64_t flashBlocks, uint64_t flashInodes) {
  auto device = std::make_unique<SimulatedDevice>(std::vector<SimulatedDevice::Mount>{
      {"/", flashBlockSize, flashBlocks, flashInodes, false}, {"/ram", 4096, 1 << 16, 0, true}});
  for (const char* dir : {"/flash/var/pdb", "/rw/pckg/.download", "/tmp"}) EXPECT_TRUE(device->addDirectories(dir));
  return device;
}

std::string settledTree(const SimulatedDevice& device, const std::string& under) {
  std::istringstream lines(device.tree(under));
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("/ram/", 0) != 0 && line.rfind("/flash/postlog ", 0) != 0) text += line + "\n";
  }
  return text;
}

std::string noise(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 16);
  }
  return bytes;
}

}  // namespace installer
