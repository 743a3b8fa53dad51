// The "--show" table, byte for byte.
#include "rules/package_listing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/package_records.h"

namespace {

const std::string header =
    "            Name          Version                Built                                    Note\n";
const std::string dashes =
    "----------------------------------------------------------------------------------------------\n";

std::string listed(const InstallerState& state) {
  std::ostringstream out;
  listPackages(state, out);
  return out.str();
}

TEST(PackageListing, EmptyDatabaseShowsHeaderAndDashesOnly) {
  InstallerState state;
  EXPECT_EQ(listed(state), header + dashes);
}

TEST(PackageListing, RecordLinesInListOrderWithMarks) {
  InstallerState state;
  addRecord(state, "system", makeVersion(7, 1, 'f', 3), 0);
  InstalledPackage& wifi = addRecord(state, "wifi", makeVersion(7, 1, 'c', 2), 1700000000);
  wifi.disabled = true;
  wifi.bundle.name = "platform";
  wifi.note = "wireless";
  InstalledPackage& off = addRecord(state, "ppp", makeVersion(6, 40, 'b', 0), 4294967295u);
  off.disabled = true;
  InstalledPackage& member = addRecord(state, "dhcp", makeVersion(7, 1, 'f', 3), 86399);
  member.bundle.name = "platform";
  EXPECT_EQ(listed(state),
            header + dashes +
                "          system            7.1.3 Jan/01/1970 00:00:00                                         \n"
                "            wifi XB        7.1rc2 Nov/14/2023 22:13:20                                 wireless\n"
                "             ppp X       6.40beta Feb/07/2106 06:28:15                                         \n"
                "            dhcp  B         7.1.3 Jan/01/1970 23:59:59                                         \n");
}

TEST(PackageListing, LongItemsArePrintedWhole) {
  InstallerState state;
  InstalledPackage& package = addRecord(state, "a-name-of-twenty-chars", makeVersion(7, 1, 'f', 3), 0);
  package.note = std::string(45, 'n');
  EXPECT_EQ(listed(state).substr(header.size() + dashes.size()),
            "a-name-of-twenty-chars            7.1.3 Jan/01/1970 00:00:00 " + std::string(45, 'n') + "\n");
}

TEST(PackageListing, BuildTimeFormat) {
  EXPECT_EQ(formatBuildTime(0), "Jan/01/1970 00:00:00");
  EXPECT_EQ(formatBuildTime(951782400), "Feb/29/2000 00:00:00");
  EXPECT_EQ(formatBuildTime(4294967295u), "Feb/07/2106 06:28:15");
}

}  // namespace
