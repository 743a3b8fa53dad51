#include "support/test_packages.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "key_file.h"
#include "package_signer.h"

namespace installer {

std::string developmentKeyFile() { return std::string(SOURCE_DIR) + "/keys/development.key"; }

namespace {

// A 132-byte part 9 as `pkgtool build` writes it by default. (Test versions
// lie in the legacy windows, so a correct legacy half would stand in for a
// damaged Ed25519 one.)
PackageSigner& developmentPackageSigner() {
  static PackageSigner* signer = [] {
    SigningKeys keys;
    Status read = readKeyFile(developmentKeyFile(), keys);
    if (!read.isOk()) {
      std::fprintf(stderr, "development keys: %s\n", read.toString().c_str());
      std::abort();
    }
    return new PackageSigner(keys, SignatureKind::Ed25519);
  }();
  return *signer;
}

}  // namespace

SignatureCallback developmentSigner() { return developmentPackageSigner().callback(); }
HeadSignatureCallback developmentHeadSigner() { return developmentPackageSigner().headCallback(); }

PackageRecipe packageRecipe(const std::string& name, PackageVersion version, std::vector<FileEntry> files) {
  PackageRecipe recipe;
  recipe.name = name;
  recipe.version = version;
  recipe.buildTime = testBuildTime;
  recipe.files = std::move(files);
  return recipe;
}

FileEntry fileEntry(const std::string& name, const std::string& data, uint16_t mode) {
  return FileEntry{name, mode, 0, data};
}

std::string signedPackage(const PackageRecipe& recipe, const FileRecipe& file) {
  return buildPackage(recipe, developmentSigner(), file);
}

std::string signedBundle(const BundleRecipe& recipe, const FileRecipe& file) {
  return buildBundle(recipe, developmentSigner(), file, developmentHeadSigner());
}

DependencyRef ref(const std::string& name, PackageVersion min, PackageVersion max, int32_t priority) {
  return DependencyRef{name, min, max, priority};
}

InstalledPackage& addRecord(InstallerState& state, const std::string& name, PackageVersion version,
                            uint32_t buildTime) {
  auto record = std::make_unique<InstalledPackage>(name);
  record->version = version, record->buildTime = buildTime;
  state.packages.push_back(std::move(record));
  return *state.packages.back();
}

std::string enabledOf(const InstallerState& state) {
  std::string text;
  for (const auto& record : state.packages) {
    if (!text.empty()) text += ' ';
    text += record->name + (record->disabled ? "-" : "+");
  }
  return text;
}

}  // namespace installer
