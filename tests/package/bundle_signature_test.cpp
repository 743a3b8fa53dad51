#include "package/bundle_signature.h"

#include <gtest/gtest.h>

#include "support/package_streams.h"

namespace installer {
namespace {

// A genuine signature verifies only from a stream with digests, at the
// part; elsewhere nothing of the part is read.
TEST(BundleSignature, VerifiesOnlyWithDigestsAtThePart) {
  BundleRecipe recipe;
  recipe.name = "set", recipe.headSignature = true, recipe.packages = {packageRecipe("a", v(1, 0))};
  const std::string genuine = signedBundle(recipe);
  for (bool hashing : {true, false}) {
    OpenedStream opened(genuine, {BundleSignature}, hashing);
    EXPECT_EQ(verifyBundleSignature(opened.stream, compiledTrustKeys()), hashing);
    OpenedStream header(genuine, {BundleHeader}, hashing);
    EXPECT_FALSE(verifyBundleSignature(header.stream, compiledTrustKeys())) << "not at the part";
    EXPECT_EQ(header.stream.remaining(), header.stream.partLength());
  }
}

// An installer that checks bundle signatures but predates the member table
// wants part 26 among the bundle's own parts, and not part 27: it finds the
// signature it knows, over a head that holds the table, directly before the
// first member, and installs the bundle as before.
TEST(BundleSignature, CoversTheMemberTableForInstallersThatPredateIt) {
  BundleRecipe recipe;
  recipe.name = "set", recipe.headSignature = true, recipe.members = std::vector<DependencyRef>{ref("a")};
  recipe.packages = {packageRecipe("a", v(1, 0)), packageRecipe("b", v(1, 0))};
  const std::string bundle = signedBundle(recipe);
  OpenedStream table(bundle, {BundleMemberTable});
  OpenedStream before(bundle, {1, 18, 20, 16, 3, 19, 17, 21, 4, 9, BundleSignature});
  std::string walk;
  while (before.stream.currentType != BundleSignature && before.stream.currentType != -1) {
    walk += std::to_string(before.stream.currentType) + " ";
    static_cast<void>(before.stream.nextPart());
  }
  EXPECT_EQ(walk, "18 20 ");
  EXPECT_LT(table.stream.payloadOffset(), before.stream.headLength());
  EXPECT_TRUE(verifyBundleSignature(before.stream, compiledTrustKeys()));
  uint32_t end = before.stream.payloadOffset() + before.stream.partLength();
  EXPECT_EQ(before.stream.nextPart(), PackageHeader);
  EXPECT_EQ(before.stream.payloadOffset() - PartHeaderSize, end);
}

}  // namespace
}  // namespace installer
