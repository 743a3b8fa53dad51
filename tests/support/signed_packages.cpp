#include "support/signed_packages.h"

#include <sstream>

namespace {

constexpr uint32_t testBuildTime = 1700000000;
constexpr uint32_t oldBuildTime = 1600000000;

}  // namespace

PackageSpec packageSpec(const std::string& name, PackageVersion version, std::vector<FileEntry> files) {
  PackageSpec spec;
  spec.name = name;
  spec.version = version;
  spec.buildTime = testBuildTime;
  spec.files = std::move(files);
  return spec;
}

FileEntry fileEntry(const std::string& name, const std::string& data, uint16_t mode) {
  FileEntry entry;
  entry.name = name;
  entry.data = data;
  entry.mode = mode;
  return entry;
}

std::string signedPackage(const PackageSpec& spec, const FileSpec& file) {
  return buildPackage(spec, developmentSigner(), file);
}

std::string signedBundle(const BundleSpec& spec, const FileSpec& file) {
  return buildBundle(spec, developmentSigner(), file);
}

void prepareDeviceRoot(const TempRoot& root) {
  root.makeDirs("/flash/var/pdb");
  root.makeDirs("/ram");
  root.makeDirs("/rw");
}

void installByMetaFiles(const TempRoot& root, const std::string& name, PackageVersion version,
                        const std::vector<std::string>& files) {
  std::string dir = "/flash/var/pdb/" + name + "/";
  root.writeFile(dir + "version", std::to_string(version) + " " + std::to_string(oldBuildTime) + "\n");
  root.writeFile(dir + "deps", "");
  std::string list;
  for (const std::string& path : files) {
    list += path + "\n";
    root.writeFile("/flash/" + path, "old " + path + "\n");
  }
  root.writeFile(dir + "files", list);
}

std::string treeWithoutPostlog(const TempRoot& root) {
  std::istringstream lines(describeTree(root.path()));
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.rfind("/flash/postlog ", 0) == 0) continue;
    kept += line + "\n";
  }
  return kept;
}

// Until pkgtool's signer is available: Ed25519 with the development seed,
// legacy half left zero.
#include <fstream>

#include "platform/signing.h"

SignatureCallback developmentSigner() {
  std::ifstream keyFile(std::string(SOURCE_DIR) + "/keys/development.key");
  std::string word, hex;
  while (keyFile >> word) {
    if (word == "ed25519-private-key") keyFile >> hex;
  }
  std::string seed;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) seed.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return [seed](const uint8_t* digest, bool) {
    uint8_t signature[64] = {};
    if (!signing::ed25519Sign(reinterpret_cast<const uint8_t*>(seed.data()), digest, 32, signature)) return std::string();
    return std::string(68, '\0') + std::string(reinterpret_cast<const char*>(signature), 64);
  };
}
