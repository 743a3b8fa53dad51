#include "support/signed_packages.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "key_file.h"
#include "package_signer.h"

namespace {

constexpr uint32_t testBuildTime = 1700000000;
constexpr uint32_t oldBuildTime = 1600000000;

}  // namespace

PackageRecipe packageRecipe(const std::string& name, PackageVersion version, std::vector<FileEntry> files) {
  PackageRecipe spec;
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

std::string signedPackage(const PackageRecipe& spec, const FileRecipe& file) {
  return buildPackage(spec, developmentSigner(), file);
}

std::string signedBundle(const BundleRecipe& spec, const FileRecipe& file) {
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

SignatureCallback developmentSigner() {
  // A 132-byte part 9 as `pkgtool build` writes it by default: the Ed25519
  // signature, legacy half zero. (The test versions lie in the legacy
  // windows, so a correct legacy half would stand in for a damaged Ed25519
  // one.)
  static PackageSigner* signer = [] {
    SigningKeys keys;
    std::string error;
    if (!readKeyFile(std::string(SOURCE_DIR) + "/keys/development.key", keys, error)) {
      std::fprintf(stderr, "development keys: %s\n", error.c_str());
      std::abort();
    }
    return new PackageSigner(keys, SignatureKind::Ed25519);
  }();
  return signer->callback();
}
