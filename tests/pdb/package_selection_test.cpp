#include "pdb/package_selection.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/package_records.h"

namespace {

// Candidates read from package files: owned by the test, listed by pointer.
class Candidates {
 public:
  PackageInfo* add(const std::string& name, PackageVersion version, uint32_t buildTime = 1000) {
    records.push_back(std::make_unique<PackageInfo>(name));
    records.back()->version = version;
    records.back()->buildTime = buildTime;
    return records.back().get();
  }
  PackageInfo* addBundle(const std::string& name, PackageVersion version, const std::vector<PackageInfo*>& members) {
    PackageInfo* bundle = add(name, version);
    bundle->isBundle = true;
    bundle->children = members;
    return bundle;
  }

 private:
  std::vector<std::unique_ptr<PackageInfo>> records;
};

std::string labels(const std::vector<PackageInfo*>& list) {
  std::string text;
  for (const PackageInfo* record : list) {
    if (!text.empty()) text += ' ';
    text += record->name + "-" + formatVersion(record->version);
  }
  return text;
}

std::string select(InstallerState& state, std::vector<PackageInfo*>& list, uint32_t floor, bool verbose) {
  return captureOutput([&] { selectPackages(state, list, floor, verbose); });
}

InstalledPackage* withPending(InstalledPackage& record, bool disabled, PendingAction pending) {
  record.disabled = disabled;
  record.pending = pending;
  return &record;
}

TEST(SummarizeFate, SingleProviders) {
  struct Case {
    bool disabled;
    PendingAction pending;
    int fate;
  };
  const Case cases[] = {
      {false, PendingAction::None, FateStays},       {true, PendingAction::Enable, FateStays},
      {false, PendingAction::Enable, FateStays},     {true, PendingAction::None, FateDisabled},
      {true, PendingAction::Disable, FateDisabled},  {true, PendingAction::Uninstall, FateDisabled},
      {false, PendingAction::Disable, FateDisabled}, {false, PendingAction::Uninstall, FateRemoved},
  };
  InstallerState state;
  InstalledPackage& record = addRecord(state, "p", v(1, 0));
  for (const Case& c : cases) {
    EXPECT_EQ(summarizeFate({withPending(record, c.disabled, c.pending)}), c.fate)
        << "disabled " << c.disabled << " pending " << pendingActionWord(c.pending);
  }
  EXPECT_EQ(summarizeFate({}), FateRemoved);
}

TEST(SummarizeFate, AnyStayingProviderDecides) {
  InstallerState state;
  InstalledPackage* removed = withPending(addRecord(state, "a", v(1, 0)), false, PendingAction::Uninstall);
  InstalledPackage* disabled = withPending(addRecord(state, "b", v(1, 0)), true, PendingAction::None);
  InstalledPackage* staying = withPending(addRecord(state, "c", v(1, 0)), false, PendingAction::None);
  EXPECT_EQ(summarizeFate({removed, removed}), FateRemoved);
  EXPECT_EQ(summarizeFate({removed, disabled}), FateDisabled);
  EXPECT_EQ(summarizeFate({disabled, removed, staying}), FateStays);
}

TEST(SelectPackages, UpgradeKeepsTheNewest) {
  InstallerState state;
  Candidates c;
  std::vector<PackageInfo*> list = {c.add("a", v(1, 0)), c.add("a", v(1, 1))};
  std::vector<PackageInfo*> copy = list;
  EXPECT_EQ(select(state, list, NoFloor, true), "WARNING: omitting package a-1.0: newer package is already provided\n");
  EXPECT_EQ(labels(list), "a-1.1");
  EXPECT_EQ(state.messages,
            std::vector<std::string>{"WARNING: omitting package a-1.0: newer package is already provided"});
  EXPECT_EQ(select(state, copy, NoFloor, false), "");
  EXPECT_EQ(labels(copy), "a-1.1");
}

TEST(SelectPackages, NewerBuildTimeWinsAtTheSameVersion) {
  InstallerState state;
  Candidates c;
  PackageInfo* later = c.add("a", v(1, 0), 2000);
  std::vector<PackageInfo*> list = {later, c.add("a", v(1, 0), 1000)};
  EXPECT_EQ(select(state, list, NoFloor, false), "");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], later);
}

TEST(SelectPackages, DowngradeKeepsTheOldestAtOrAboveTheFloor) {
  InstallerState state;
  Candidates c;
  std::vector<PackageInfo*> list = {c.add("a", v(1, 0)), c.add("a", v(1, 1)), c.add("a", v(1, 2))};
  std::vector<PackageInfo*> copy = list;
  EXPECT_EQ(select(state, list, v(1, 1), false), "WARNING: ommitting package a-1.0: not allowed\n");
  EXPECT_EQ(labels(list), "a-1.1");
  EXPECT_EQ(select(state, copy, v(1, 1), true),
            "WARNING: ommitting package a-1.0: not allowed\n"
            "WARNING: omitting package a-1.2: older package is already provided\n");
  EXPECT_EQ(labels(copy), "a-1.1");
  EXPECT_EQ(state.messages.size(), 3u);
}

TEST(SelectPackages, DowngradeWithEveryCandidateBelowTheFloorKeepsNothing) {
  InstallerState state;
  Candidates c;
  std::vector<PackageInfo*> list = {c.add("a", v(1, 0)), c.add("b", v(0, 9))};
  EXPECT_EQ(select(state, list, v(1, 1), false),
            "WARNING: ommitting package a-1.0: not allowed\nWARNING: ommitting package b-0.9: not allowed\n");
  EXPECT_TRUE(list.empty());
}

TEST(SelectPackages, EqualBundleBeatsThePlainPackageInEitherOrder) {
  InstallerState state;
  Candidates c;
  PackageInfo* plain = c.add("a", v(2, 0));
  PackageInfo* child = c.add("a", v(2, 0));
  PackageInfo* bundle = c.addBundle("all", v(2, 0), {child});
  std::vector<PackageInfo*> list = {plain, bundle};
  EXPECT_EQ(select(state, list, NoFloor, true), "");
  EXPECT_EQ(list, std::vector<PackageInfo*>{bundle});
  list = {bundle, plain};
  EXPECT_EQ(select(state, list, NoFloor, true), "");
  EXPECT_EQ(list, std::vector<PackageInfo*>{bundle});
}

TEST(SelectPackages, BundleWithANewerMemberBeatsAnOlderPlainPackage) {
  InstallerState state;
  Candidates c;
  PackageInfo* plain = c.add("a", v(1, 0));
  PackageInfo* bundle = c.addBundle("all", v(2, 0), {c.add("a", v(2, 0))});
  std::vector<PackageInfo*> list = {plain, bundle};
  EXPECT_EQ(select(state, list, NoFloor, true), "WARNING: omitting package a-1.0: newer package is already provided\n");
  EXPECT_EQ(list, std::vector<PackageInfo*>{bundle});
}

TEST(SelectPackages, OfTwoIdenticalCandidatesTheFirstSurvives) {
  InstallerState state;
  Candidates c;
  PackageInfo* first = c.add("a", v(1, 0));
  PackageInfo* second = c.add("a", v(1, 0));
  std::vector<PackageInfo*> list = {first, second};
  EXPECT_EQ(select(state, list, NoFloor, true), "");
  EXPECT_EQ(list, std::vector<PackageInfo*>{first});
  // Two equal bundles likewise.
  PackageInfo* bundle1 = c.addBundle("all", v(1, 0), {});
  PackageInfo* bundle2 = c.addBundle("all", v(1, 0), {});
  list = {bundle1, bundle2};
  EXPECT_EQ(select(state, list, v(1, 0), true), "");
  EXPECT_EQ(list, std::vector<PackageInfo*>{bundle1});
}

TEST(SelectPackages, UnrelatedCandidatesAreBothKeptInReverseOrder) {
  InstallerState state;
  Candidates c;
  PackageInfo* bundle = c.addBundle("all", v(1, 0), {c.add("x", v(1, 0))});
  PackageInfo* plain = c.add("y", v(1, 0));
  PackageInfo* third = c.add("z", v(1, 0));
  std::vector<PackageInfo*> list = {bundle, plain, third};
  EXPECT_EQ(select(state, list, NoFloor, true), "");
  EXPECT_EQ(list, (std::vector<PackageInfo*>{third, plain, bundle}));
}

TEST(SelectPackages, DependentFollowsWhatItNeedsInEitherOrder) {
  InstallerState state;
  Candidates c;
  PackageInfo* a = c.add("a", v(1, 0));
  PackageInfo* b = c.add("b", v(1, 0));
  b->deps = {ref("a")};
  std::vector<PackageInfo*> list = {a, b};
  selectPackages(state, list, NoFloor, false);
  EXPECT_EQ(labels(list), "a-1.0 b-1.0");
  list = {b, a};
  selectPackages(state, list, NoFloor, false);
  EXPECT_EQ(labels(list), "a-1.0 b-1.0");
  // A chain given backwards comes out forwards.
  PackageInfo* d = c.add("d", v(1, 0));
  d->deps = {ref("b")};
  list = {d, b, a};
  selectPackages(state, list, NoFloor, false);
  EXPECT_EQ(labels(list), "a-1.0 b-1.0 d-1.0");
}

TEST(SelectPackages, ExcludedPackageFollowsTheOneExcludingIt) {
  InstallerState state;
  Candidates c;
  PackageInfo* x = c.add("x", v(1, 0));
  PackageInfo* y = c.add("y", v(1, 0));
  y->conflicts = {ref("x")};
  std::vector<PackageInfo*> list = {x, y};
  selectPackages(state, list, NoFloor, false);
  EXPECT_EQ(labels(list), "y-1.0 x-1.0");
  list = {y, x};
  selectPackages(state, list, NoFloor, false);
  EXPECT_EQ(labels(list), "y-1.0 x-1.0");
}

TEST(SelectPackages, DependencyOnABundleMemberPlacesAfterTheBundle) {
  InstallerState state;
  Candidates c;
  PackageInfo* user = c.add("user", v(1, 0));
  user->deps = {ref("lib", v(1, 0))};
  PackageInfo* bundle = c.addBundle("all", v(1, 0), {c.add("lib", v(1, 0))});
  PackageInfo* other = c.add("other", v(1, 0));
  std::vector<PackageInfo*> list = {user, bundle, other};
  selectPackages(state, list, NoFloor, false);
  EXPECT_EQ(list, (std::vector<PackageInfo*>{other, bundle, user}));
}

class KeepDependencies : public testing::Test {
 protected:
  std::string keep(InstalledPackage& package, bool verbose) {
    return captureOutput([&] { keepDependencies(state, package, verbose); });
  }
  InstalledPackage& add(const std::string& name, PackageVersion version, PendingAction pending,
                        bool disabled = false) {
    return *withPending(addRecord(state, name, version), disabled, pending);
  }
  InstallerState state;
};

TEST_F(KeepDependencies, CancelsTheUninstallOfTheOnlyProvider) {
  InstalledPackage& lib = add("lib", v(1, 2), PendingAction::Uninstall);
  InstalledPackage& app = addRecord(state, "app", v(1, 0));
  app.deps = {ref("lib")};
  EXPECT_EQ(keep(app, true), "WARNING: can not uninstall lib-1.2: app depends on it\n");
  EXPECT_EQ(pendingOf(state), "lib: app:");
  EXPECT_EQ(state.messages, std::vector<std::string>{"WARNING: can not uninstall lib-1.2: app depends on it"});

  lib.pending = PendingAction::Disable;
  EXPECT_EQ(keep(app, true), "WARNING: can not disable lib-1.2: app depends on it\n");
  EXPECT_EQ(lib.pending, PendingAction::None);

  lib.pending = PendingAction::Uninstall;
  EXPECT_EQ(keep(app, false), "");
  EXPECT_EQ(lib.pending, PendingAction::None);
}

TEST_F(KeepDependencies, EnablesADisabledProviderAndWalksItsDependencies) {
  add("base", v(1, 0), PendingAction::Disable);
  InstalledPackage& lib = add("lib", v(1, 0), PendingAction::None, true);
  lib.deps = {ref("base")};
  InstalledPackage& app = addRecord(state, "app", v(1, 0));
  app.deps = {ref("lib")};
  EXPECT_EQ(keep(app, true), "WARNING: can not disable base-1.0: lib depends on it\n");
  EXPECT_EQ(pendingOf(state), "base: lib:enable app:");
}

TEST_F(KeepDependencies, ADependencyWithoutProviderStopsTheWalk) {
  InstalledPackage& lib = add("lib", v(1, 0), PendingAction::Uninstall);
  InstalledPackage& app = addRecord(state, "app", v(1, 0));
  app.deps = {ref("missing"), ref("lib")};
  EXPECT_EQ(keep(app, true), "");
  EXPECT_EQ(lib.pending, PendingAction::Uninstall);
  // A provider outside the version bounds is no provider.
  app.deps = {ref("lib", v(2, 0)), ref("lib")};
  EXPECT_EQ(keep(app, true), "");
  EXPECT_EQ(lib.pending, PendingAction::Uninstall);
}

TEST_F(KeepDependencies, MetDependenciesChangeNothing) {
  add("lib", v(1, 0), PendingAction::Uninstall);
  addRecord(state, "lib", v(1, 1));
  InstalledPackage& app = addRecord(state, "app", v(1, 0));
  app.deps = {ref("lib")};
  EXPECT_EQ(keep(app, true), "");
  EXPECT_EQ(pendingOf(state), "lib:uninstall lib: app:");
}

TEST_F(KeepDependencies, PicksTheNewestOfSeveralProvidersOfOneName) {
  add("lib", v(1, 1), PendingAction::None, true);
  add("lib", v(1, 0), PendingAction::None, true);
  InstalledPackage& app = addRecord(state, "app", v(1, 0));
  app.deps = {ref("lib")};
  EXPECT_EQ(keep(app, true), "");
  EXPECT_EQ(pendingOf(state), "lib:enable lib: app:");
}

TEST_F(KeepDependencies, OfUnrelatedProvidersTheFirstInListOrderIsKept) {
  add("one", v(1, 0), PendingAction::Uninstall).provides = {ref("svc")};
  add("two", v(1, 0), PendingAction::Uninstall).provides = {ref("svc")};
  InstalledPackage& app = addRecord(state, "app", v(1, 0));
  app.deps = {ref("svc")};
  EXPECT_EQ(keep(app, true), "WARNING: can not uninstall one-1.0: app depends on it\n");
  EXPECT_EQ(pendingOf(state), "one: two:uninstall app:");
}

TEST_F(KeepDependencies, KeepsTheBundleOfASubPackage) {
  InstalledPackage& member = addRecord(state, "member", v(1, 0));
  member.bundle = ref("all", v(1, 0), v(1, 0));
  InstalledPackage& bundle = addRecord(state, "all", v(1, 0));
  bundle.isBundle = true;
  bundle.disabled = true;
  EXPECT_EQ(keep(member, true), "");
  EXPECT_EQ(bundle.pending, PendingAction::Enable);
  bundle.pending = PendingAction::Disable;
  bundle.disabled = false;
  EXPECT_EQ(keep(member, true), "WARNING: can not disable all-1.0: member depends on it\n");
  EXPECT_EQ(bundle.pending, PendingAction::None);
}

TEST_F(KeepDependencies, ABundleNamingItselfDoesNotLoop) {
  InstalledPackage& odd = addRecord(state, "odd", v(1, 0));
  odd.bundle = ref("odd");
  odd.disabled = true;
  odd.pending = PendingAction::Uninstall;
  EXPECT_EQ(keep(odd, false), "");
  EXPECT_EQ(odd.pending, PendingAction::Enable);
}

}  // namespace
