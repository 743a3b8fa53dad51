#include "package/bundle_signature.h"

#include <gtest/gtest.h>

#include "support/package_streams.h"

namespace installer {
namespace {

// A bundle whose signature part carries `payload`, before one member.
std::string bundleWithSignaturePart(const std::string& payload) {
  PackageWriter writer;
  writer.addPart(BundleHeader, encodeHeaderRecord("set", v(1, 0), 0, std::nullopt));
  writer.addPart(BundleSignature, payload);
  appendPackage(writer, packageRecipe("a", v(1, 0)), developmentSigner());
  return writer.bytes();
}

std::string table(size_t rows) {
  std::string bytes = encodeMemberTable(std::vector<MemberRow>(rows == 0 ? 1 : rows));
  if (rows == 0) bytes.resize(memberTableCountSize), bytes[0] = 0;  // a count of 0
  return bytes;
}

// The payload is one signature, or one signature and one table of 1 to 1024
// rows; the table is read whether or not the signature verifies (these
// do not), and only from a stream with digests, at a bundle signature part.
TEST(BundleSignature, TakesOneSignatureAndAtMostOneTable) {
  const std::string signature(bundleSignatureLength, '\0');
  // payload, rows read (-1: no table)
  const std::pair<std::string, int> cases[] = {
      {signature, -1},
      {signature.substr(1), -1},
      {signature + '\0', -1},
      {signature + table(0), -1},
      {signature + table(1), 1},
      {signature + table(2).substr(1), -1},
      {signature + table(2) + '\0', -1},
      {signature + table(maxMemberRows), maxMemberRows},
      {signature + table(maxMemberRows + 1), -1},
  };
  for (const auto& [payload, rows] : cases) {
    SCOPED_TRACE(testing::Message() << payload.size() << " bytes");
    OpenedStream opened(bundleWithSignaturePart(payload), {BundleSignature});
    MemberTable read;
    EXPECT_FALSE(verifyBundleSignature(opened.stream, compiledTrustKeys(), read));
    EXPECT_EQ(read.present ? static_cast<int>(read.rows.size()) : -1, rows);
    EXPECT_EQ(opened.stream.memberSpans().started(), rows > 0);
  }
  BundleRecipe recipe;
  recipe.name = "set", recipe.headSignature = true, recipe.packages = {packageRecipe("a", v(1, 0))};
  const std::string genuine = signedBundle(recipe);
  for (bool hashing : {true, false}) {
    MemberTable read;
    OpenedStream opened(genuine, {BundleSignature}, hashing);
    EXPECT_EQ(verifyBundleSignature(opened.stream, compiledTrustKeys(), read), hashing);
    OpenedStream header(genuine, {BundleHeader});
    EXPECT_FALSE(verifyBundleSignature(header.stream, compiledTrustKeys(), read)) << "not at the part";
    EXPECT_EQ(header.stream.remaining(), header.stream.partLength());
  }
}

}  // namespace
}  // namespace installer
