#include "model/installer_state.h"

#include <gtest/gtest.h>

#include "support/recorded_output.h"
#include "support/test_packages.h"

namespace installer {
namespace {

// Lookups take the first match in list order, by exact name; findInstalled
// the first enabled record named so or providing the name, else the last
// disabled one. Conflicts skip disabled records, providers placeholders.
TEST(InstallerState, Lookups) {
  RecordedOutput output;
  InstallerState state(Env::posix(), output);
  auto &off = addRecord(state, "wifi", 1), &ng = addRecord(state, "ng", 2), &on = addRecord(state, "wifi", 3);
  auto &placeholder = addRecord(state, "ppp", ~0u, ~0u), &ppp = addRecord(state, "ppp", 7);
  off.disabled = true;
  off.conflicts = ng.conflicts = {ref("ppp")};
  ng.provides = {ref("wifi", 5, 6), ref("ppp", 3)};
  std::vector<InstalledPackage*> out = {nullptr};
  collectProviders(state, ref("ppp", 2), out);
  EXPECT_EQ(out, std::vector<InstalledPackage*>({nullptr, &ng, &ppp}));
  EXPECT_EQ(findConflicting(state, ppp), &ng);
  EXPECT_EQ(findByName(state, "ppp"), &placeholder);
  EXPECT_EQ(findByName(state, "PPP"), nullptr);
  EXPECT_EQ(findInstalled(state, "wifi"), &ng);
  EXPECT_EQ(findInstalled(state, "x"), nullptr);
  ng.disabled = on.disabled = true;
  EXPECT_EQ(findInstalled(state, "wifi"), &on);
  EXPECT_TRUE(removePackage(state, &on));
  EXPECT_FALSE(removePackage(state, &on)) << "removed twice";
  EXPECT_EQ(findInstalled(state, "wifi"), &ng);
  EXPECT_EQ(state.packages.size(), 4u);
}

}  // namespace
}  // namespace installer
