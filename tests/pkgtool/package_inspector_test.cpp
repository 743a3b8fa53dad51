#include "package_inspector.h"

#include <gtest/gtest.h>

#include <sstream>

#include "key_file.h"
#include "package_builder.h"
#include "package_signer.h"
#include "support/temp_root.h"

namespace {

std::string smallSignedPackage(const SigningKeys& keys) {
  PackageRecipe spec;
  spec.name = "small";
  spec.version = 0x07056603;
  spec.deps = std::vector<DependencyRef>{DependencyRef{"system", 0x07000000, 0, 0}};
  spec.files = {FileEntry{"bin/a", 0100755, 0, "aaaa"}, FileEntry{"bin/b", 0100644, 1, std::string(300, 'b')}};
  PackageSigner signer(keys, SignatureKind::Ed25519);
  return buildPackage(spec, signer.callback());
}

// Every cut of a good package, and every change of a byte that counts, is
// reported as not clean, and nothing hangs or crashes on the way. Bytes that
// do not count: the file header's length field (only scales the progress
// bar) and the legacy half of a signature whose Ed25519 half is valid.
TEST(InspectPackageFile, EveryTruncationAndByteChangeIsRefused) {
  SigningKeys keys;
  std::string error;
  ASSERT_TRUE(readKeyFile(SOURCE_DIR "/keys/development.key", keys, error)) << error;
  std::string bytes = smallSignedPackage(keys);
  TempRoot dir;
  std::ostringstream out, err;
  dir.writeFile("/p.kmp", bytes);
  ASSERT_EQ(inspectPackageFile(dir.at("/p.kmp"), keys.trust, out, err), 0) << out.str();
  for (size_t length = 0; length < bytes.size(); ++length) {
    dir.writeFile("/p.kmp", bytes.substr(0, length));
    EXPECT_EQ(inspectPackageFile(dir.at("/p.kmp"), keys.trust, out, err), 1) << "cut at " << length;
  }
  const size_t legacyHalf = bytes.size() - 132;
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::string changed = bytes;
    changed[at] = static_cast<char>(changed[at] ^ 0x40);
    dir.writeFile("/p.kmp", changed);
    bool counts = (at < 4 || at >= 8) && (at < legacyHalf || at >= legacyHalf + 68);
    EXPECT_EQ(inspectPackageFile(dir.at("/p.kmp"), keys.trust, out, err), counts ? 1 : 0) << "byte " << at;
  }
  EXPECT_EQ(err.str(), "");
}

}  // namespace
