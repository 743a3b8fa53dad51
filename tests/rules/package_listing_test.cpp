#include "rules/package_listing.h"

#include <gtest/gtest.h>

#include "support/install_run.h"

namespace installer {
namespace {

using PackageListing = InstallRun;

TEST_F(PackageListing, TableByteForByte) {
  addRecord(state, "system", makeVersion(7, 1, Final, 3), 0);
  InstalledPackage& wifi = addRecord(state, "wifi", makeVersion(7, 1, ReleaseCandidate, 2), 1700000000);
  wifi.disabled = true, wifi.bundle.name = "platform", wifi.note = "wireless";
  addRecord(state, "ppp", makeVersion(6, 40, Beta, 0), 4294967295u).disabled = true;
  listPackages(state);
  // clang-format off
  EXPECT_EQ(output.printed, "            Name          Version                Built                                    Note\n" +
      std::string(94, '-') + "\n"
      "          system            7.1.3 Jan/01/1970 00:00:00                                         \n"
      "            wifi XB        7.1rc2 Nov/14/2023 22:13:20                                 wireless\n"
      "             ppp X       6.40beta Feb/07/2106 06:28:15                                         \n");
  // clang-format on
  EXPECT_TRUE(output.allFlushed());
}

}  // namespace
}  // namespace installer
