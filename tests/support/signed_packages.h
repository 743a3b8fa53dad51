// Package files for the installation tests: built with pkgtool's builder and
// signed with the development key (keys/development.key), which the test
// build of the installer trusts.
#pragma once

#include <string>
#include <vector>

#include "package_builder.h"
#include "support/temp_root.h"

// Signs with the development keys: a 132-byte part 9 whose Ed25519 half
// verifies; the legacy half is zero and never verifies.
SignatureCallback developmentSigner();

// A stand-alone package of version `version`, built 2023-11-14, with the
// given files, SHA-256 digest.
PackageRecipe packageRecipe(const std::string& name, PackageVersion version, std::vector<FileEntry> files = {});
FileEntry fileEntry(const std::string& name, const std::string& data, uint16_t mode = 0100644);

std::string signedPackage(const PackageRecipe& spec, const FileRecipe& file = FileRecipe());
std::string signedBundle(const BundleRecipe& spec, const FileRecipe& file = FileRecipe());

// Lays out a device root as the installer expects it: "/flash/var/pdb/",
// "/ram", "/rw".
void prepareDeviceRoot(const TempRoot& root);

// Records `name` as installed the way the database keeps a package without
// an image: meta files only, and the files it lists put on flash with
// contents "old <path>".
void installByMetaFiles(const TempRoot& root, const std::string& name, PackageVersion version,
                        const std::vector<std::string>& files);

// describeTree without the line of "/flash/postlog".
std::string treeWithoutPostlog(const TempRoot& root);
