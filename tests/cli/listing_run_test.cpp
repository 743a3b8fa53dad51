// End to end: "installer -r ROOT --show" prints the database of ROOT and
// changes nothing.
#include <gtest/gtest.h>

#include "package_builder.h"
#include "support/chroot_runner.h"
#include "support/process_runner.h"
#include "support/temp_root.h"

namespace {

ProcessResult show(const TempRoot& root) { return runInstaller({"-r", root.path(), "--show"}); }

const std::string pdb = "/flash/var/pdb/";
const std::string table =
    "            Name          Version                Built                                    Note\n"
    "----------------------------------------------------------------------------------------------\n";

TEST(ListingRun, EmptyDatabase) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs(pdb);
  ProcessResult result = show(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, table);
  EXPECT_EQ(result.err, "");
}

TEST(ListingRun, MissingDatabaseWarnsAndListsNothing) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  ProcessResult result = show(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "WARNING: could not open repo\n" + table);
}

TEST(ListingRun, DatabaseRestoredFromMetaFiles) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "dhcp/version", "117532163 0\n");
  root.writeFile(pdb + "dhcp/files", "bin/dhcpd\n");
  root.writeFile(pdb + "dhcp/disabled", "user\n");
  std::string before = describeTree(root.path());
  ProcessResult result = show(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(
      result.out,
      table + "            dhcp X          7.1.3 Jan/01/1970 00:00:00                                         \n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST(ListingRun, DatabaseOfImagesThenRestoredRecords) {
  SKIP_UNLESS_ROOT();
  const PackageVersion v713 = makeVersion(7, 1, 'f', 3);
  BundleRecipe bundle;
  bundle.name = "platform";
  bundle.version = v713;
  bundle.buildTime = 1700000000;
  bundle.note = "main bundle";
  for (const char* name : {"system", "wifi"}) {
    PackageRecipe member;
    member.name = name;
    member.version = v713;
    member.buildTime = 1699999999;
    member.files = {FileEntry{std::string("bin/") + name, 0100755, 0, "x"}};
    bundle.packages.push_back(member);
  }
  TempRoot root;
  root.writeFile(pdb + "platform/image", buildBundle(bundle));
  root.writeFile(pdb + "wifi/disabled", "auto\n");
  root.writeFile(pdb + "zz-extra/version", "117532163 86399\n");
  root.writeFile(pdb + "zz-extra/files", "");
  ProcessResult result = show(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out,
            table +
                "          system  B         7.1.3 Nov/14/2023 22:13:19                                         \n"
                "            wifi XB         7.1.3 Nov/14/2023 22:13:19                                         \n"
                "        platform            7.1.3 Nov/14/2023 22:13:20                              main bundle\n"
                "        zz-extra            7.1.3 Jan/01/1970 23:59:59                                         \n");
  EXPECT_EQ(result.err, "");
}

}  // namespace
