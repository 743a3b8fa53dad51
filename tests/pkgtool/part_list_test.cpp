#include "part_list.h"

#include <gtest/gtest.h>

#include <sstream>

#include "package_builder.h"

namespace installer {
namespace {

std::string listed(const std::string& bytes) {
  std::istringstream in(bytes);
  PartList file = listFileParts(in);
  if (!file.headerComplete) return "short header";
  std::ostringstream text;
  text << std::hex << file.magic << std::dec << " " << file.lengthField << ":";
  for (const FilePart& part : file.parts) text << " " << part.type << "@" << part.offset << "-" << part.end();
  return text.str();
}

// Every part header up to the end, whatever the magic; a part that claims
// more bytes than the file has is listed as it claims, and the bytes of a
// cut part header are not.
TEST(PartList, ListsEveryPartHeaderAsTheReaderMeetsIt) {
  PackageWriter package, other(0x12345678), cut;
  for (PackageWriter* file : {&package, &other, &cut}) {
    file->addPart(DigestSelect, "");
    file->addPart(99, "xy");
  }
  cut.addPartWithLength(Note, 100, "short");
  PackageWriter trailing;
  trailing.addPart(Note, "n");
  trailing.addRaw("abc");
  EXPECT_EQ(listed(package.bytes()), "bad0f11e 14: 25@8-14 99@14-22");
  EXPECT_EQ(listed(other.bytes()), "12345678 14: 25@8-14 99@14-22");
  EXPECT_EQ(listed(cut.bytes()), "bad0f11e 25: 25@8-14 99@14-22 23@22-128");
  EXPECT_EQ(listed(trailing.bytes()), "bad0f11e 10: 23@8-15");
  EXPECT_EQ(listed(package.bytes().substr(0, 7)), "short header");
}

}  // namespace
}  // namespace installer
