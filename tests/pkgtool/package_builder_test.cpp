#include "package_builder.h"

#include <gtest/gtest.h>

#include <sstream>

#include "package/package_stream.h"

namespace {

std::vector<uint16_t> typesOf(const PackageWriter& writer) {
  std::vector<uint16_t> types;
  for (const WrittenPart& part : writer.parts()) types.push_back(part.type);
  return types;
}

TEST(PackageWriter, FileHeaderLengthCountsWhatFollows) {
  PackageWriter writer(UnrecordedPackageMagic);
  writer.addPart(Note, "abc");
  std::string bytes = writer.bytes();
  EXPECT_EQ(bytes, std::string("\xFB\x0F\x10\xA1\x09\x00\x00\x00\x17\x00\x03\x00\x00\x00"
                               "abc",
                               17));
  writer.setLengthField(0x01020304);
  EXPECT_EQ(writer.bytes().substr(4, 4), "\x04\x03\x02\x01");
}

TEST(PackageWriter, LyingLengthsAndRawBytesAreWrittenAsTold) {
  PackageWriter writer;
  writer.addPartWithLength(Files, 1000, "xy");
  writer.addRaw("zz");
  EXPECT_EQ(writer.bytes().substr(8), std::string("\x04\x00\xE8\x03\x00\x00xyzz", 10));
  EXPECT_EQ(writer.parts().at(0).length, 1000u);
}

TEST(PackageWriter, RecordEncodings) {
  EXPECT_EQ(encodeHeaderRecord("name", 0x01020304, 5, std::nullopt),
            std::string("name\0\0\0\0\0\0\0\0\0\0\0\0\x04\x03\x02\x01\x05\0\0\0\0\0\0\0\0\0\0\0", 32));
  EXPECT_EQ(encodeHeaderRecord("a-name-longer-than-16", 0, 0, 2).substr(0, 16), "a-name-longer-th");
  EXPECT_EQ(encodeHeaderRecord("x", 0, 0, 2).substr(32), std::string("\x02\0\0\0", 4));
  std::string list = encodeDependencyList({{"dep", 1, 2, -2}});
  EXPECT_EQ(list.size(), 2u + 32);
  EXPECT_EQ(list.substr(0, 2), std::string("\x01\x00", 2));
  EXPECT_EQ(list.substr(2 + 16), std::string("\x01\0\0\0\0\0\0\0\x02\0\0\0\xFE\xFF\xFF\xFF", 16));
  FileEntry entry;
  entry.name = "bin/x";
  entry.mode = 0100755;
  entry.variant = 3;
  entry.data = "data";
  std::string record = encodeFileRecord(entry);
  EXPECT_EQ(record.size(), 30u + 5 + 4);
  EXPECT_EQ(record.substr(0, 2), "\xED\x81");
  EXPECT_EQ(record[23], 3);
  EXPECT_EQ(record.substr(24, 6), std::string("\x04\0\0\0\x05\0", 6));
  EXPECT_EQ(record.substr(30), "bin/xdata");
}

TEST(PackageWriter, PackageLayoutFollowsTheInstallOrder) {
  PackageRecipe spec;
  spec.name = "p";
  spec.text24 = "t";
  spec.architecture = "x86";
  spec.text2 = "t";
  spec.note = "n";
  spec.deps = std::vector<DependencyRef>{};
  spec.provides = std::vector<DependencyRef>{};
  spec.conflicts = std::vector<DependencyRef>{};
  spec.squashfsImage = "img";
  PackageWriter writer;
  appendPackage(writer, spec, nullptr);
  EXPECT_EQ(typesOf(writer), (std::vector<uint16_t>{25, 1, 24, 16, 2, 23, 3, 19, 17, 21, 4, 9}));
  EXPECT_EQ(writer.parts().back().length, 132u);
  EXPECT_EQ(writer.bytes().substr(writer.bytes().size() - 132), std::string(132, '\0'));
}

TEST(PackageWriter, BundleLayout) {
  BundleRecipe bundle;
  bundle.name = "b";
  bundle.members = std::vector<DependencyRef>{{"m1", 0, 0, 0}};
  bundle.deps = std::vector<DependencyRef>{{"x", 0, 0, 0}};
  PackageRecipe member;
  member.name = "m1";
  member.sha256 = false;
  bundle.packages = {member, member};
  FileRecipe file;
  file.trailingArchitecture = "arm";
  std::string bytes = buildBundle(bundle, nullptr, file);
  std::istringstream input(bytes);
  PackageStream stream(input, false, nullptr);
  stream.wantedTypes = {1, 3, 4, 9, 16, 18, 20};
  std::vector<int32_t> types;
  while (stream.nextPart() >= 0) types.push_back(stream.currentType);
  EXPECT_EQ(types, (std::vector<int32_t>{18, 3, 20, 1, 4, 9, 1, 4, 9, 16}));
}

TEST(PackageWriter, SignatureCallbackGetsTheDigestAndItsKind) {
  PackageRecipe spec;
  spec.name = "signed";
  spec.signatureLength = 68;
  for (bool sha256 : {false, true}) {
    spec.sha256 = sha256;
    bool sawSha256 = !sha256;
    std::string seen;
    std::string bytes = buildPackage(spec, [&](const uint8_t* digest, bool isSha256) {
      sawSha256 = isSha256;
      seen.assign(reinterpret_cast<const char*>(digest), 32);
      return std::string(68, 's');
    });
    EXPECT_EQ(sawSha256, sha256);
    EXPECT_EQ(bytes.substr(bytes.size() - 68), std::string(68, 's'));
    if (!sha256) {
      EXPECT_EQ(seen.substr(20), std::string(12, '\0'));
    }
    std::istringstream input(bytes);
    PackageStream stream(input, true, nullptr);
    stream.wantedTypes = {Signature};
    ASSERT_EQ(stream.nextPart(), 9);
    stream.finishDigest();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.digestResult()), 32), seen);
  }
}

}  // namespace
