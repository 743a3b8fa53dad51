#include "base/package_version.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

// Kind bytes up to 0x60 are the older numbering with a 16-bit build, and an
// unknown letter prints its build without a word. Parsing takes the text
// forms and plain numbers only; a refused text leaves the output alone.
TEST(PackageVersion, FormatsAndParsesTheTextForms) {
  const std::pair<PackageVersion, const char*> texts[] = {
      {0x07016600, "7.1"},          {0x07016601, "7.1.1"},     {0x07016300, "7.1rc"},
      {0x07016202, "7.1beta2"},     {0x07016103, "7.1alpha3"}, {0, "0.0"},
      {0x07016403, "7.13"},         {0x07016400, "7.1"},       {0x06280105, "6.40_ab261"},
      {0x06286000, "6.40_ab24576"}, {0x06286100, "6.40alpha"}};
  for (auto [version, text] : texts) EXPECT_EQ(formatVersion(version), text) << std::hex << version;
  const std::pair<const char*, PackageVersion> parses[] = {
      {"7.1rc", 0x07016300},      {"7.1beta255", 0x070162FF},   {"7.13", 0x070D6600},
      {"7.1.1", 0x07016601},      {"6.40_ab24831", 0x062860FF}, {"255.255", 0xFFFF6600},
      {"0x07016603", 0x07016603}, {"117532163", 0x07016603},    {"0XFFFFFFFF", 0xFFFFFFFF}};
  PackageVersion parsed = 0;
  for (auto [text, expected] : parses) {
    EXPECT_TRUE(parseVersion(text, parsed)) << text;
    EXPECT_EQ(parsed, expected) << text;
  }
  const char* const refused[] = {"",     "7a",    "7.1.",  "7.1_ab",     "7.1x", "7.1rc1x",      "+5",
                                 "7.-1", "256.0", "7.256", "7.1beta256", "0x",   "6.40_ab24832", "0x1FFFFFFFF"};
  // Each refused text must leave the last value read (0xFFFFFFFF) in place.
  for (const char* text : refused) {
    EXPECT_FALSE(parseVersion(text, parsed)) << '"' << text << '"';
    EXPECT_EQ(parsed, 0xFFFFFFFFu) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace installer
