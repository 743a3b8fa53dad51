// Package files and database records for tests: packages are built with
// pkgtool's builder and signed with the development key
// (keys/development.key), which the test build of the installer trusts.
#pragma once

#include <string>
#include <vector>

#include "model/installer_state.h"
#include "package_builder.h"

namespace installer {

// A final release: v(7, 1, 3) is 7.1.3.
constexpr PackageVersion v(unsigned major, unsigned minor, unsigned build = 0) {
  return makeVersion(major, minor, Final, build);
}

constexpr uint32_t testBuildTime = 1700000000;

// Signs with the development key: a 132-byte part 9 whose Ed25519 half
// verifies; the legacy half is zero and never verifies.
SignatureCallback developmentSigner();
HeadSignatureCallback developmentHeadSigner();  // for a bundle signature part
std::string developmentKeyFile();

// A stand-alone package built at testBuildTime, SHA-256 digest.
PackageRecipe packageRecipe(const std::string& name, PackageVersion version, std::vector<FileEntry> files = {});
FileEntry fileEntry(const std::string& name, const std::string& data, uint16_t mode = 0100644);
std::string signedPackage(const PackageRecipe& recipe, const FileRecipe& file = FileRecipe());
// Its bundle signature part too, when the recipe asks for one.
std::string signedBundle(const BundleRecipe& recipe, const FileRecipe& file = FileRecipe());

DependencyRef ref(const std::string& name, PackageVersion min = 0, PackageVersion max = 0, int32_t priority = 0);

// Appends an enabled record with pending None and returns it.
InstalledPackage& addRecord(InstallerState& state, const std::string& name, PackageVersion version,
                            uint32_t buildTime = 1000);

// The enabled state of every record, in list order, as "name+"/"name-"
// joined by spaces.
std::string enabledOf(const InstallerState& state);

}  // namespace installer
