// Writes a large signed package for the install throughput benchmark
// (scripts/bench/install_throughput.sh): `large_package OUT MEGABYTES`.
// The files are 4 MiB each of pseudo-random bytes, so deflate cannot shrink
// them and the installer inflates, digests, copies and writes every byte.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "support/signed_packages.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: large_package OUT MEGABYTES\n");
    return 2;
  }
  const size_t fileSize = 4 << 20;
  size_t megabytes = std::strtoul(argv[2], nullptr, 10);
  std::mt19937_64 random(42);
  std::vector<FileEntry> files;
  for (size_t made = 0; made < megabytes << 20; made += fileSize) {
    std::string data(fileSize, '\0');
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
      uint64_t word = random();
      std::memcpy(&data[i], &word, 8);
    }
    files.push_back(fileEntry("data/blob" + std::to_string(files.size()), data));
  }
  std::string bytes = signedPackage(packageRecipe("large", makeVersion(1, 0, Final, 0), std::move(files)));
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out.fail() ? 1 : 0;
}
