// Lookups over the loaded database: first match in list order, by exact name.
#include "model/installer_state.h"

#include <gtest/gtest.h>

#include "support/package_records.h"

namespace {

class Lookups : public ::testing::Test {
 protected:
  InstalledPackage* add(const std::string& name, PackageVersion version, bool disabled = false) {
    InstalledPackage* package = &addRecord(state, name, version, 1);
    package->disabled = disabled;
    return package;
  }
  InstallerState state;
};

TEST_F(Lookups, ByNameIsExactAndFirst) {
  InstalledPackage* first = add("wifi", 1);
  add("wifi", 2);
  add("Ppp", 3);
  EXPECT_EQ(indexOfName(state, "wifi"), 0);
  EXPECT_EQ(indexOfName(state, "Ppp"), 2);
  EXPECT_EQ(indexOfName(state, "ppp"), -1);
  EXPECT_EQ(indexOfName(state, "wif"), -1);
  EXPECT_EQ(findByName(state, "wifi"), first);
  EXPECT_EQ(findByName(state, ""), nullptr);
}

TEST_F(Lookups, FindInstalledPrefersTheFirstEnabledElseTheLastDisabled) {
  InstalledPackage* off1 = add("wifi", 1, true);
  InstalledPackage* provider = add("wifi-ng", 2);
  provider->provides = {ref("wifi", 5, 6, -1)};
  add("wifi", 3);
  EXPECT_EQ(findInstalled(state, "wifi"), provider) << "a provider of any version counts";

  provider->disabled = true;
  EXPECT_EQ(findInstalled(state, "wifi"), state.packages[2].get());
  state.packages[2]->disabled = true;
  EXPECT_EQ(findInstalled(state, "wifi"), state.packages[2].get()) << "all disabled: the last of them";
  removePackageAt(state, 2);
  EXPECT_EQ(findInstalled(state, "wifi"), provider);
  EXPECT_TRUE(removePackage(state, provider));
  EXPECT_EQ(findInstalled(state, "wifi"), off1);
  EXPECT_EQ(findInstalled(state, "ppp"), nullptr);
  EXPECT_FALSE(removePackage(state, provider)) << "already gone";
}

TEST_F(Lookups, FindConflictingSkipsDisabledRecords) {
  PackageInfo candidate("ppp");
  candidate.version = 7;
  InstalledPackage* disabled = add("old", 1, true);
  disabled->conflicts = {ref("ppp")};
  InstalledPackage* bounded = add("limited", 1);
  bounded->conflicts = {ref("ppp", 8)};  // only from version 8 on
  InstalledPackage* conflicting = add("new", 1);
  conflicting->conflicts = {ref("ppp", 0, 7)};
  add("later", 1)->conflicts = {ref("ppp")};
  EXPECT_EQ(findConflicting(state, candidate), conflicting);
  candidate.version = 9;
  EXPECT_EQ(findConflicting(state, candidate), bounded);
  candidate.name = "other";
  EXPECT_EQ(findConflicting(state, candidate), nullptr);
}

TEST_F(Lookups, CollectProvidersKeepsListOrderAndSkipsPlaceholders) {
  InstalledPackage* ppp = add("ppp", 5);
  InstalledPackage* provider = add("pppoe", 1, true);
  provider->provides = {ref("ppp", 3, 4)};
  InstalledPackage* placeholder = add("ppp", 0xFFFFFFFF);
  placeholder->buildTime = 0xFFFFFFFF;
  InstalledPackage* tooOld = add("ppp", 2);
  std::vector<InstalledPackage*> out;
  collectProviders(state, ref("ppp", 3), out);
  EXPECT_EQ(out, (std::vector<InstalledPackage*>{ppp, provider}));
  out.clear();
  collectProviders(state, ref("ppp", 0, 2), out);
  EXPECT_EQ(out, (std::vector<InstalledPackage*>{tooOld}));
}

}  // namespace
