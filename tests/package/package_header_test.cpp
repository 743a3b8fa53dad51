#include "package/package_header.h"

#include <gtest/gtest.h>

#include <sstream>

#include "package_builder.h"

namespace {

const std::vector<uint32_t> installRunTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};
const std::vector<uint32_t> platformTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21};

// Opens `bytes` with the given wanted types and moves to the first part.
struct OpenedPackage {
  OpenedPackage(const std::string& bytes, const std::vector<uint32_t>& types, bool hashing = true)
      : input(bytes), stream(input, hashing, nullptr) {
    stream.wantedTypes = types;
    stream.nextPart();
  }
  std::istringstream input;
  PackageStream stream;
};

PackageRecipe fullSpec() {
  PackageRecipe spec;
  spec.name = "routing";
  spec.version = 0x07010300;
  spec.buildTime = 1700000000;
  spec.headerFlags = 3;
  spec.text24 = "text of 24";
  spec.architecture = "arm64";
  spec.text2 = "text of 2";
  spec.note = "a note";
  spec.deps = std::vector<DependencyRef>{{"system", 0x07010000, 0x07020000, 0}};
  spec.provides = std::vector<DependencyRef>{{"routing-api", 0x01000000, 0, -5}};
  spec.conflicts = std::vector<DependencyRef>{{"oldrouting", 0, 0, 0}, {"quagga", 1, 2, 3}};
  return spec;
}

TEST(ReadPackageHeader, ReadsEveryFieldForACallerThatWantsAll) {
  OpenedPackage package(buildPackage(fullSpec()), platformTypes);
  PackageInfo record;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.name, "routing");
  EXPECT_EQ(record.version, 0x07010300u);
  EXPECT_EQ(record.buildTime, 1700000000u);
  EXPECT_EQ(record.headerFlags, 3u);
  EXPECT_FALSE(record.isBundle);
  EXPECT_EQ(record.text24, "text of 24");
  EXPECT_EQ(record.architecture, "arm64");
  EXPECT_EQ(record.text2, "text of 2");
  EXPECT_EQ(record.note, "a note");
  ASSERT_EQ(record.deps.size(), 1u);
  EXPECT_EQ(record.deps[0].name, "system");
  EXPECT_EQ(record.deps[0].min, 0x07010000u);
  EXPECT_EQ(record.deps[0].max, 0x07020000u);
  ASSERT_EQ(record.provides.size(), 1u);
  EXPECT_EQ(record.provides[0].priority, -5);
  ASSERT_EQ(record.conflicts.size(), 2u);
  EXPECT_EQ(record.conflicts[1].name, "quagga");
  EXPECT_EQ(record.conflicts[1].min, 1u);
  EXPECT_EQ(record.conflicts[1].max, 2u);
  EXPECT_EQ(record.conflicts[1].priority, 3);
  EXPECT_FALSE(record.bootImageFlag);
  EXPECT_EQ(package.stream.currentType, -1) << "part 4 is not wanted here";
}

TEST(ReadPackageHeader, InstallRunSkipsTextPartsButDigestsThem) {
  PackageWriter writer;
  appendPackage(writer, fullSpec(), nullptr);
  OpenedPackage package(writer.bytes(), installRunTypes);
  PackageInfo record;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.text24, "");
  EXPECT_EQ(record.text2, "");
  EXPECT_EQ(record.note, "");
  EXPECT_EQ(record.architecture, "arm64");
  EXPECT_EQ(record.conflicts.size(), 2u);
  EXPECT_EQ(package.stream.currentType, 4);
  ASSERT_EQ(package.stream.nextPart(), 9);
  package.stream.finishDigest();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(package.stream.digestResult()), 32),
            writer.signedDigests().at(0));
}

TEST(ReadPackageHeader, ThirtyTwoByteHeaderHasNoFlagsAndLeavesTheStreamUsable) {
  PackageRecipe spec;
  spec.name = "plain";
  spec.version = 5;
  spec.architecture = "x86";
  OpenedPackage package(buildPackage(spec), installRunTypes);
  PackageInfo record;
  record.headerFlags = 77;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.headerFlags, 0u);
  EXPECT_EQ(record.architecture, "x86");
  EXPECT_TRUE(package.stream.good());
  EXPECT_EQ(package.stream.currentType, 4);
}

TEST(ReadPackageHeader, ThirtySixByteHeaderCarriesFlags) {
  PackageRecipe spec;
  spec.name = "boot";
  spec.headerFlags = 0x80000001;
  OpenedPackage package(buildPackage(spec), installRunTypes);
  PackageInfo record;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.headerFlags, 0x80000001u);
}

TEST(ReadPackageHeader, NameFieldRules) {
  struct Case {
    std::string field;
    std::string name;
  } cases[] = {
      {"sixteen-letters!", "sixteen-letters!"},
      {std::string("abc") + std::string(13, '\0'), "abc"},
      {std::string("ab\0cd", 5) + std::string(11, 'z'), "ab"},
  };
  for (const Case& c : cases) {
    PackageWriter writer;
    writer.addPart(PackageHeader, c.field + std::string(16, '\0'));
    OpenedPackage package(writer.bytes(), installRunTypes);
    PackageInfo record;
    ASSERT_TRUE(readPackageHeader(record, package.stream));
    EXPECT_EQ(record.name, c.name);
  }
}

TEST(ReadPackageHeader, NamesThatCannotBeDirectoriesMakeTheHeaderUnreadable) {
  const std::string bad[] = {"", ".", "..", "a/b", "/", "a b", "tab\t", "del\x7f", "new\nline"};
  for (const std::string& name : bad) {
    PackageWriter writer;
    writer.addPart(PackageHeader, encodeHeaderRecord(name, 9, 9, 1));
    OpenedPackage package(writer.bytes(), installRunTypes);
    PackageInfo record("kept");
    record.version = 42;
    EXPECT_FALSE(readPackageHeader(record, package.stream)) << "name '" << name << "'";
    EXPECT_EQ(record.name, "kept");
    EXPECT_EQ(record.version, 42u);
  }
  for (const std::string& name : {std::string("..."), std::string(".hidden"), std::string("caf\xc3\xa9")}) {
    PackageWriter writer;
    writer.addPart(BundleHeader, encodeHeaderRecord(name, 9, 9, 1));
    OpenedPackage package(writer.bytes(), installRunTypes);
    PackageInfo record;
    EXPECT_TRUE(readPackageHeader(record, package.stream)) << "name '" << name << "'";
    EXPECT_EQ(record.name, name);
    EXPECT_TRUE(record.isBundle);
  }
}

TEST(ReadPackageHeader, NeedsAHeaderPartWithThirtyTwoBytes) {
  PackageWriter notHeader;
  notHeader.addPart(Dependencies, encodeDependencyList({}));
  OpenedPackage first(notHeader.bytes(), installRunTypes);
  PackageInfo record;
  EXPECT_FALSE(readPackageHeader(record, first.stream));

  PackageWriter shortHeader;
  shortHeader.addPart(PackageHeader, encodeHeaderRecord("x", 1, 1, std::nullopt).substr(0, 31));
  OpenedPackage second(shortHeader.bytes(), installRunTypes);
  EXPECT_FALSE(readPackageHeader(record, second.stream));
}

TEST(ReadPackageHeader, MissingArchitectureMeansI386) {
  PackageRecipe spec;
  spec.name = "noarch";
  OpenedPackage package(buildPackage(spec), installRunTypes);
  PackageInfo record;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.architecture, "i386");
}

TEST(ReadPackageHeader, PartOutOfOrderEndsTheHeader) {
  PackageWriter writer;
  writer.addPart(PackageHeader, encodeHeaderRecord("order", 1, 1, 0));
  writer.addPart(Dependencies, encodeDependencyList({{"system", 1, 0, 0}}));
  writer.addPart(Architecture, "mipsbe");
  OpenedPackage package(writer.bytes(), installRunTypes);
  PackageInfo record;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.deps.size(), 1u);
  EXPECT_EQ(record.architecture, "i386");
  EXPECT_EQ(package.stream.currentType, 16);
}

TEST(ReadPackageHeader, SquashfsImageSetsTheFlagAndStaysCurrent) {
  PackageRecipe spec;
  spec.name = "img";
  spec.squashfsImage = std::string(100, 's');
  OpenedPackage package(buildPackage(spec), installRunTypes);
  PackageInfo record;
  ASSERT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_TRUE(record.bootImageFlag);
  EXPECT_EQ(package.stream.currentType, 21);
  EXPECT_EQ(package.stream.remaining(), 100u);
}

TEST(ReadPackageHeader, OverlongTextPartIsRefusedWithoutReadingIt) {
  PackageWriter writer;
  writer.addPart(PackageHeader, encodeHeaderRecord("big", 1, 1, 0));
  writer.addPartWithLength(Architecture, 0xFFFFFFF0, "x86");
  OpenedPackage package(writer.bytes(), installRunTypes);
  PackageInfo record;
  EXPECT_FALSE(readPackageHeader(record, package.stream));

  PackageWriter limit;
  limit.addPart(PackageHeader, encodeHeaderRecord("big", 1, 1, 0));
  limit.addPart(Note, std::string(MaxHeaderTextLength, 'n'));
  OpenedPackage atLimit(limit.bytes(), platformTypes);
  ASSERT_TRUE(readPackageHeader(record, atLimit.stream));
  EXPECT_EQ(record.note.size(), MaxHeaderTextLength);

  PackageWriter over;
  over.addPart(PackageHeader, encodeHeaderRecord("big", 1, 1, 0));
  over.addPart(Note, std::string(MaxHeaderTextLength + 1, 'n'));
  OpenedPackage overLimit(over.bytes(), platformTypes);
  EXPECT_FALSE(readPackageHeader(record, overLimit.stream));
}

TEST(ReadPackageHeader, TruncatedTextEndsTheHeaderWithAFailedStream) {
  PackageWriter writer;
  writer.addPart(PackageHeader, encodeHeaderRecord("cut", 1, 1, 0));
  writer.addPartWithLength(Architecture, 10, "x8");
  OpenedPackage package(writer.bytes(), installRunTypes);
  PackageInfo record;
  EXPECT_TRUE(readPackageHeader(record, package.stream));
  EXPECT_EQ(record.architecture, "x8");
  EXPECT_EQ(package.stream.currentType, -1);
  EXPECT_TRUE(package.stream.fail());
}

TEST(ReadDependencyList, ReadsLittleEndianRecords) {
  PackageWriter writer;
  std::string list = encodeDependencyList({{"a", 0x01020304, 0x0A0B0C0D, -1}});
  list[2 + 20] = 'X';  // bytes 20..23 carry nothing
  writer.addPart(Dependencies, list);
  OpenedPackage package(writer.bytes(), {Dependencies});
  std::vector<DependencyRef> refs;
  ASSERT_TRUE(readDependencyList(package.stream, refs));
  ASSERT_EQ(refs.size(), 1u);
  EXPECT_EQ(refs[0].name, "a");
  EXPECT_EQ(refs[0].min, 0x01020304u);
  EXPECT_EQ(refs[0].max, 0x0A0B0C0Du);
  EXPECT_EQ(refs[0].priority, -1);
}

TEST(ReadDependencyList, ShortListsAndBadNamesAreUnreadable) {
  std::string good = encodeDependencyList({{"one", 1, 0, 0}, {"two", 2, 0, 0}});
  const std::string damaged[] = {
      good.substr(0, 1),
      good.substr(0, good.size() - 1),
      encodeDependencyList({{"", 1, 0, 0}}),
      encodeDependencyList({{"sp ace", 1, 0, 0}}),
      encodeDependencyList({{"sl/ash", 1, 0, 0}}),
      encodeDependencyList({{"ctl\x01", 1, 0, 0}}),
  };
  for (const std::string& payload : damaged) {
    PackageWriter writer;
    writer.addPart(Provides, payload);
    OpenedPackage package(writer.bytes(), {Provides});
    std::vector<DependencyRef> refs;
    EXPECT_FALSE(readDependencyList(package.stream, refs));
  }
  PackageWriter writer;
  writer.addPart(PackageHeader, encodeHeaderRecord("p", 1, 1, 0));
  writer.addPart(Conflicts, encodeDependencyList({{"ok", 1, 0, 0}, {"..", 1, 0, 0}}));
  OpenedPackage package(writer.bytes(), installRunTypes);
  PackageInfo record;
  EXPECT_TRUE(readPackageHeader(record, package.stream)) << "'..' is only a bad package name";

  PackageWriter badList;
  badList.addPart(PackageHeader, encodeHeaderRecord("p", 1, 1, 0));
  badList.addPart(Conflicts, encodeDependencyList({{"ok", 1, 0, 0}, {"b d", 1, 0, 0}}));
  OpenedPackage second(badList.bytes(), installRunTypes);
  EXPECT_FALSE(readPackageHeader(record, second.stream));
}

TEST(ReadPackageHeader, DamagedFilesNeverCrashOrHang) {
  std::string bytes = buildPackage(fullSpec());
  auto readIt = [](const std::string& input) {
    OpenedPackage package(input, platformTypes);
    PackageInfo record;
    if (readPackageHeader(record, package.stream)) {
      while (package.stream.nextPart() >= 0) {
      }
    }
  };
  for (size_t length = 0; length < bytes.size(); ++length) readIt(bytes.substr(0, length));
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::string flipped = bytes;
    flipped[i] = static_cast<char>(flipped[i] ^ 0xFF);
    readIt(flipped);
  }
}

}  // namespace
