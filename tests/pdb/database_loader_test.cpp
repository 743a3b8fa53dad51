// Loading the whole database: images in the database and the repository,
// and records restored from meta files, in the directory's listing order.
#include "pdb/database_loader.h"

#include <gtest/gtest.h>

#include "support/pdb_records.h"
#include "support/recorded_output.h"
#include "support/simulated_device.h"

namespace installer {
namespace {

const std::string pdb = "/flash/var/pdb/", repo = "/rw/pckg/.images/";
constexpr PackageVersion v713 = v(7, 1, 3);  // 117532163

std::string package(const std::string& name) { return buildPackage(packageRecipe(name, v713)); }

// Images first, then the records restored from meta files, each in listing
// order (reverse name order here). A header that cannot be read leaves the
// record to its meta files; a bundle image gives its sub-packages first.
TEST(DatabaseLoader, Loads) {
  BundleRecipe recipe;
  recipe.name = "all";
  recipe.version = v713;
  recipe.buildTime = 1700000100;
  recipe.packages = {packageRecipe("sys", v713), packageRecipe("wifi", v713)};
  const std::string bundle = buildBundle(recipe);
  auto cut = [&](const std::string& part, size_t extra) { return bundle.substr(0, bundle.find(part) + extra); };
  PackageRecipe needing = packageRecipe("p", v713);
  needing.deps = std::vector<DependencyRef>{ref("kernel")};
  const std::string sys = "sys 117532163 1700000000 in=all:117532163:117532163\n";
  const std::string all = "all 117532163 1700000100 bundle\n";
  struct Case {
    const char* files;
    Images images;
    std::string expected;
  };
  const Case cases[] = {
      {"", {{pdb + "all/image", bundle}}, sys + "wifi 117532163 1700000000 in=all:117532163:117532163\n" + all},
      {"", {{pdb + "all/image", cut(encodeHeaderRecord("wifi", v713, testBuildTime, {}), 10)}}, sys + all},
      {"",
       {{pdb + "all/image", cut(encodeHeaderRecord("all", v713, 1700000100, {}), 4)}},
       "all 0 0 bundle uninstall\n"},
      {"p/version=5 6|;p/files=bin/d|", {{pdb + "p/image", "not a package"}}, "p 5 6 file=/bin/d\n"},
      // The image wins over meta files (which would have it uninstalled); the
      // state files count all the same.
      {"p/version=1 1|;p/deps=x 1;p/disabled=auto|",
       {{pdb + "p/image", buildPackage(needing)}},
       "p 117532163 1700000000 off needs=kernel:0:0\n"},
      // The repository serves a directory without an image, and nothing else.
      {"p/version=1 1|",
       {{repo + "p", package("p")}, {repo + "orphan", package("orphan")}},
       "p 117532163 1700000000\n"},
      // An image naming another package gives a record of that name; the
      // directory's own is restored, and without "version" goes.
      {"p/files=bin/p|;p/disabled=user|;/ram/pdb/new/schedule=disable",
       {{pdb + "p/image", package("new")}},
       "new 117532163 1700000000 user disable\np 0 0 off user uninstall file=/bin/p\n"},
      // Entries that are not directories, or begin with ".", are no packages.
      {"stray=5 6|;.hidden/version=1 1|;real/version=1 2|;real/files=",
       {{repo + "stray", package("stray")}, {repo + ".hidden", package("hidden")}},
       "real 1 2\n"},
      // Listing order, images first.
      {"a/version=1 1;c/version=1 1;d/version=1 1;e/version=1 1",
       {{pdb + "b/image", package("b")}, {pdb + "d/image", package("d")}},
       "d 117532163 1700000000\nb 117532163 1700000000\ne 1 1 bundle\nc 1 1 bundle\na 1 1 bundle\n"},
  };
  for (const auto& [files, images, expected] : cases) EXPECT_EQ(loadedFrom(files, images), expected) << files;
}

TEST(DatabaseLoader, WarnsWhenTheDatabaseCannotBeOpened) {
  SimulatedDevice device({{"/"}});  // no database directory
  ASSERT_TRUE(device.addFile(repo + "p", package("p")));
  RecordedOutput output;
  InstallerState state(device, output);
  loadDatabase(state, false, "arm64");
  EXPECT_EQ(output.printed + describeRecords(state), "WARNING: could not open repo\n");
  EXPECT_EQ(state.architecture, "arm64");
}

}  // namespace
}  // namespace installer
