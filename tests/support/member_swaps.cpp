#include "support/member_swaps.h"

#include "package/signature_check.h"
#include "support/test_packages.h"

namespace installer {

namespace {

BundleRecipe suite() {
  BundleRecipe bundle;
  bundle.name = "suite", bundle.version = v(7, 2), bundle.buildTime = testBuildTime, bundle.headSignature = true;
  for (const char* name : {"alpha", "beta"})
    bundle.packages.push_back(packageRecipe(name, v(7, 2), {fileEntry(name, name)}));
  return bundle;
}

// The bytes of the `index`-th package carried in `file`.
std::string carried(const std::string& file, size_t index) {
  CarriedPackage at = carriedPackages(file)[index];
  return file.substr(at.begin, at.end - at.begin);
}

// `file` with the bytes from `begin` to `end` replaced by `by`.
std::string spliced(const std::string& file, size_t begin, size_t end, const std::string& by) {
  return file.substr(0, begin) + by + file.substr(end);
}

// `bundle` with member `index` replaced by the package carried in `other`.
std::string withMember(const std::string& bundle, size_t index, const std::string& other) {
  CarriedPackage at = carriedPackages(bundle)[index];
  return spliced(bundle, at.begin, at.end, carried(other, 0));
}

std::string exchanged(const std::string& bundle) {
  std::vector<CarriedPackage> at = carriedPackages(bundle);
  std::string second = spliced(bundle, at[1].begin, at[1].end, carried(bundle, 0));
  return spliced(second, at[0].begin, at[0].end, carried(bundle, 1));
}

// A byte of member `index` that its own signature does not cover: the first
// of the legacy half of its part 9, not looked at when the Ed25519
// signature verifies.
std::string withLegacyHalfChanged(std::string bundle, size_t index) {
  size_t at = carriedPackages(bundle)[index].end - fullSignatureLength;
  bundle[at] = static_cast<char>(bundle[at] ^ 1);
  return bundle;
}

// An unknown part (type 22) of `length` bytes in all.
std::string unknownPart(size_t length) {
  PackageWriter writer;
  writer.addPart(22, std::string(length - PartHeaderSize, '\0'));
  return writer.bytes().substr(FileHeaderSize);
}

}  // namespace

std::vector<BundleCase> memberBindingCases() {
  BundleRecipe recipe = suite(), sha1First = suite();
  sha1First.packages[0].sha256 = false;
  const std::string bundle = signedBundle(recipe), sha1Bundle = signedBundle(sha1First);
  const std::string trailing = signedBundle(recipe, FileRecipe{PackageMagic, std::string("i386")});
  recipe.memberTable = false;
  const std::string untabled = signedBundle(recipe);
  recipe.headSignature = false;
  const std::string unsignedBundle = signedBundle(recipe);
  const std::string older = signedPackage(packageRecipe("beta", v(7, 1), {fileEntry("beta", "beta")}));
  const std::string gamma = signedPackage(packageRecipe("gamma", v(9, 9), {fileEntry("gamma", "gamma")}));
  const std::vector<CarriedPackage> at = carriedPackages(bundle);
  const std::string digestSelect("\x19\0\0\0\0\0", PartHeaderSize);
  return {
      {"genuine", bundle, true, true, "member table: accepted (2 rows, 2 members read)"},
      {"genuine, a SHA-1 member first", sha1Bundle, true, true, "member row 1 matches (carried 204 bytes"},
      {"signed without a table", untabled, true, false, "member table: none: the members are not bound"},
      {"unsigned", unsignedBundle, true, false,
       "bundle signature: none\n  where the settings say require-signed-bundles 1"},
      {"signed without a table, members exchanged", exchanged(untabled), true, false, "member table: none"},
      {"an older member", withMember(bundle, 1, older), false, false, "member row 2 does NOT match"},
      {"another package", withMember(bundle, 0, gamma), false, false, "member row 1 does NOT match"},
      {"members exchanged", exchanged(bundle), false, false, "member row 1 does NOT match (carried 203 bytes"},
      {"one dropped", bundle.substr(0, at[0].end), false, false, "member table: REFUSED (2 rows, 1 member read)"},
      {"one dropped, its room filled", bundle.substr(0, at[0].end) + unknownPart(at[1].end - at[0].end), false, false,
       "member table: REFUSED (2 rows, 1 member read, 209 bytes after the last member)"},
      {"one added", bundle + digestSelect + carried(gamma, 0), false, false, "member row: none, the table has 2 rows"},
      {"a byte outside the member's signature", withLegacyHalfChanged(bundle, 1), false, false,
       "member row 2 does NOT match"},
      {"the same in a SHA-1 member", withLegacyHalfChanged(sha1Bundle, 0), false, false, "member row 1 does NOT match"},
      {"another part between members", spliced(bundle, at[0].end, at[1].begin, unknownPart(PartHeaderSize)), false,
       false, "more than an empty part 25 stands before the member"},
      {"a part after the last member", trailing, false, false, "10 bytes after the last member"},
  };
}

}  // namespace installer
