#include "base/package_version.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "model/package_labels.h"

namespace {

struct TextCase {
  PackageVersion version;
  const char* text;
};

const TextCase textCases[] = {
    {0x07016600, "7.1"},          {0x07016601, "7.1.1"},     {0x07016603, "7.1.3"},
    {0x07016300, "7.1rc"},        {0x07016301, "7.1rc1"},    {0x07016200, "7.1beta"},
    {0x07016202, "7.1beta2"},     {0x07016100, "7.1alpha"},  {0x07016103, "7.1alpha3"},
    {0x00000000, "0.0"},          {0x07016403, "7.13"},      {0x07016400, "7.1"},
    {0x06280105, "6.40_ab261"},   {0x06280000, "6.40"},      {0x06286000, "6.40_ab24576"},
    {0xFFFFFFFF, "255.255255"},   {0x0A006610, "10.0.16"},   {0x06286100, "6.40alpha"},
};

TEST(FormatVersion, TextForms) {
  for (const TextCase& c : textCases) {
    EXPECT_EQ(formatVersion(c.version), c.text) << std::hex << c.version;
  }
}

TEST(PackageVersion, PlainUnsignedOrderRanksReleases) {
  // Each one is older than the next.
  const PackageVersion ascending[] = {
      0x06280105,  // 6.40_ab261: old numbering sorts below lettered versions
      0x06286101,  // 6.40alpha1
      0x07006609,  // 7.0.9
      0x07016103,  // 7.1alpha3
      0x07016201,  // 7.1beta1
      0x07016302,  // 7.1rc2
      0x07016600,  // 7.1
      0x07016601,  // 7.1.1
      0x07026101,  // 7.2alpha1
  };
  for (size_t i = 0; i + 1 < sizeof ascending / sizeof ascending[0]; ++i) {
    EXPECT_LT(ascending[i], ascending[i + 1]) << formatVersion(ascending[i]);
  }
}

TEST(ParseVersion, ReadsBackWhatFormatWrites) {
  const PackageVersion versions[] = {0x07016600, 0x07016601, 0x07016300, 0x07016302, 0x07016200,
                                     0x07016207, 0x07016100, 0x070161FF, 0x06280105, 0xFF66FF};
  for (PackageVersion version : versions) {
    PackageVersion parsed = 1;
    ASSERT_TRUE(parseVersion(formatVersion(version), parsed)) << formatVersion(version);
    EXPECT_EQ(parsed, version) << formatVersion(version);
  }
}

TEST(ParseVersion, PlainNumbersAndAmbiguousTexts) {
  struct Case {
    const char* text;
    PackageVersion expected;
  } cases[] = {
      {"0x07016603", 0x07016603}, {"117532163", 0x07016603}, {"0", 0}, {"7", 7},
      {"0XFFFFFFFF", 0xFFFFFFFF}, {"7.13", 0x070D6600},      {"7.1.0", 0x07016600},
      {"6.40_ab0", 0x06280000},
  };
  for (const Case& c : cases) {
    PackageVersion parsed = 1;
    EXPECT_TRUE(parseVersion(c.text, parsed)) << c.text;
    EXPECT_EQ(parsed, c.expected) << c.text;
  }
}

TEST(ParseVersion, RejectsJunk) {
  const char* junk[] = {"",        "7a",          "7.",       "7.1.",     "7.1_ab",  "7.1x",    "7.1.1.1",
                        "7.1rc1x", "256.0",       "7.256",    "7.1.256",  "-1",      " 5",      "+5",
                        "0x",      "0x1FFFFFFFF", "4294967296", "7.1 rc1", "7.-1",    "a.1",     "7.1gamma2",
                        "7.1beta256", "6.40_ab24832"};
  for (const char* text : junk) {
    PackageVersion parsed = 0x12345678;
    EXPECT_FALSE(parseVersion(text, parsed)) << '"' << text << '"';
    EXPECT_EQ(parsed, 0x12345678u) << text;
  }
}

TEST(PackageLabels, PackageLabelAlwaysCarriesAVersion) {
  PackageInfo x("x");
  EXPECT_EQ(packageLabel(x), "x-0.0");
  PackageInfo system("system");
  system.version = 0x07016603;
  EXPECT_EQ(packageLabel(system), "system-7.1.3");
}

TEST(PackageLabels, DependencyLabelNamesTheMinimumOnly) {
  EXPECT_EQ(dependencyLabel({"ipv6", 0, 0x07016600, 0}), "ipv6");
  EXPECT_EQ(dependencyLabel({"ipv6", 0x07016600, 0x07026600, 0}), "ipv6-7.1");
}

TEST(PackageLabels, BundleMemberIsShownByItsBundle) {
  InstalledPackage member("wireless");
  member.version = 0x07016603;
  EXPECT_EQ(displayLabel(member), "wireless-7.1.3");
  member.bundle = {"platform", 0x07016601, 0x07016601, 0};
  EXPECT_EQ(displayLabel(member), "platform-7.1.1");
  member.bundle = {"platform", 0, 0, 0};  // restored from the "bundle" meta file
  EXPECT_EQ(displayLabel(member), "platform");
}

TEST(PackageLabels, TwoLabelsMadeInTurnKeepTheirOwnText) {
  PackageInfo older("system");
  older.version = 0x07016300;
  PackageInfo newer("system");
  newer.version = 0x07026601;
  char line[128];
  std::snprintf(line, sizeof line, "omitting package %s: newer package %s is already installed",
                packageLabel(older).c_str(), packageLabel(newer).c_str());
  EXPECT_STREQ(line, "omitting package system-7.1rc: newer package system-7.2.1 is already installed");
}

}  // namespace
