#include "package/package_header.h"

#include <gtest/gtest.h>

#include "support/package_streams.h"

namespace installer {
namespace {

template <typename T>
std::string str(T value) {
  return std::to_string(value);
}

// Reads the header at the first of `parts` (type, payload; a negative type
// declares a 1 MiB payload), every header part wanted: the record ("unreadable"
// and what it kept; its texts, or their length, when not empty; its lists)
// and where the stream stopped: the part and its bytes left.
std::string read(const std::vector<std::pair<int, std::string>>& parts) {
  PackageWriter writer;
  for (const auto& [type, bytes] : parts) {
    writer.addPartWithLength(std::abs(type), type < 0 ? 1 << 20 : static_cast<uint32_t>(bytes.size()), bytes);
  }
  OpenedStream opened(writer.bytes(), {18, 1, 24, 16, 2, 23, 3, 19, 17, 21});
  PackageInfo r("kept");
  r.headerFlags = 77;
  bool readable = readPackageHeader(r, opened.stream);
  std::string out = (readable ? "" : "unreadable ") + r.name + " " + str(r.version) + " " + str(r.buildTime) + " " +
                    str(r.headerFlags) + (r.isBundle ? " bundle" : "") + (r.bootImageFlag ? " image" : "");
  for (const std::string* text : {&r.text24, &r.architecture, &r.text2, &r.note}) {
    if (!text->empty()) out += " [" + (text->size() > 9 ? str(text->size()) : *text) + "]";
  }
  for (const auto* refs : {&r.deps, &r.provides, &r.conflicts}) {
    out += " |";
    for (const DependencyRef& d : *refs) out += " " + d.name + str(d.min) + "-" + str(d.max) + "/" + str(d.priority);
  }
  return out + " at " + str(opened.stream.currentType) + " " + str(opened.stream.remaining());
}

std::string header(const std::string& name, std::optional<uint32_t> f = 1) { return encodeHeaderRecord(name, 9, 8, f); }

TEST(ReadPackageHeader, Layouts) {
  std::string list = encodeDependencyList({ref("a", 0x01020304, 0x0A0B0C0D, -1), ref("b", 2)});
  list[2 + 20] = 'X';  // bytes 20..23 of a record carry nothing
  const std::string a = " a16909060-168496141/-1", ab = a + " b2-0/0", big(MaxHeaderTextLength, 'n');
  EXPECT_EQ(read({{1, header("all")}, {24, "24"}, {16, "ar"}, {2, "2"}, {23, "23"}, {3, list}, {19, list}, {17, list}}),
            "all 9 8 1 [24] [ar] [2] [23] |" + ab + " |" + ab + " |" + ab + " at -1 0");
  EXPECT_EQ(read({{18, header("b", 5)}, {3, list}, {21, "i"}}), "b 9 8 5 bundle image [i386] |" + ab + " | | at 21 1");
  EXPECT_EQ(read({{1, header("c", std::nullopt)}, {17, list}, {16, "late"}}), "c 9 8 0 [i386] | | |" + ab + " at 16 4");
  std::string zeroInName = "ab" + std::string(1, '\0') + std::string(13, 'z') + header("").substr(16);
  EXPECT_EQ(read({{1, zeroInName}}), "ab 9 8 1 [i386] | | | at -1 0");
  EXPECT_EQ(read({{1, header("cut")}, {-16, "x8"}}), "cut 9 8 1 [x8] | | | at -1 1048574");
  EXPECT_EQ(read({{1, header("big")}, {23, big}}), "big 9 8 1 [i386] [1048576] | | | at -1 0");
  EXPECT_EQ(read({{1, header("big")}, {23, big + "n"}}), "unreadable big 9 8 1 [i386] | | | at 23 1048577");
  EXPECT_EQ(read({{1, header("p")}, {17, list.substr(0, 60)}}), "unreadable p 9 8 1 [i386] | | |" + a + " at 17 0");
  EXPECT_EQ(read({{1, header("p")}, {19, list.substr(0, 1)}}), "unreadable p 9 8 1 [i386] | | | at 19 0");
  EXPECT_EQ(read({{1, header("p")}, {3, encodeDependencyList({ref(" ")})}}), "unreadable p 9 8 1 [i386] | | | at 3 0");
  EXPECT_EQ(read({{3, list}}), "unreadable kept 0 0 77 | | | at 3 66");
  EXPECT_EQ(read({{1, header("short", std::nullopt).substr(0, 31)}}), "unreadable kept 0 0 77 | | | at 1 0");
  EXPECT_EQ(read({{1, header("..")}}), "unreadable kept 0 0 77 | | | at 1 4");
}

TEST(PackageNames, WhatADirectoryAndAReferenceMayBeCalled) {
  std::string seen;  // "P": acceptable as a package name, "R": as a reference
  for (const char* name : {"", ".", "..", "...", "a/b", "a b", "tab\t", "a\x01", "del\x7f", "!~", "caf\xc3\xa9"}) {
    seen += (isAcceptablePackageName(name) ? " P" : " -") + std::string(isAcceptableReferenceName(name) ? "R" : "-");
  }
  EXPECT_EQ(seen, " -- -R -R PR -- -- -- -- -- PR PR");
}

}  // namespace
}  // namespace installer
