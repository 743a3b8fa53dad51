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
  EXPECT_TRUE(out == std::vector<InstalledPackage*>({nullptr, &ng, &ppp}) && findConflicting(state, ppp) == &ng);
  EXPECT_TRUE(findByName(state, "ppp") == &placeholder && findByName(state, "PPP") == nullptr &&
              findInstalled(state, "wifi") == &ng && findInstalled(state, "x") == nullptr);
  ng.disabled = on.disabled = true;
  EXPECT_TRUE(findInstalled(state, "wifi") == &on && removePackage(state, &on) && !removePackage(state, &on) &&
              findInstalled(state, "wifi") == &ng && state.packages.size() == 4);
}

}  // namespace
}  // namespace installer
