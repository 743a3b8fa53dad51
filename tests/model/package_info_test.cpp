#include "model/package_info.h"

#include <gtest/gtest.h>

namespace {

PackageInfo package(const char* name, PackageVersion version = 0x07016600, uint32_t buildTime = 100) {
  PackageInfo record(name);
  record.version = version;
  record.buildTime = buildTime;
  return record;
}

PackageInfo placeholder(const char* name) { return package(name, 0xFFFFFFFF, 0xFFFFFFFF); }

TEST(PackageRecord, DirectoryAndScheduleWords) {
  EXPECT_EQ(packageDir(InstalledPackage("dhcp")), "/flash/var/pdb/dhcp/");
  const char* words[] = {"", "uninstall", "enable", "disable"};
  for (uint32_t i = 0; i < 4; ++i) EXPECT_STREQ(pendingActionWord(static_cast<PendingAction>(i)), words[i]);
}

TEST(Satisfies, VersionBounds) {
  struct Case {
    const char* name;
    PackageVersion min, max;
    bool expected;
  } cases[] = {
      {"ipv6", 0, 0, true},                    // no bounds: any version
      {"ipv6", 0x07016600, 0x07016600, true},  // both bounds equal to the version
      {"ipv6", 0x07016601, 0, false},          // min one above
      {"ipv6", 0, 0x070165FF, false},          // max one below
      {"ipv6", 0x01000000, 0, true},
      {"IPV6", 0, 0, false},                   // names differ in case
      {"ipv", 0, 0, false},
  };
  PackageInfo ipv6 = package("ipv6");
  for (const Case& c : cases) {
    EXPECT_EQ(satisfies(ipv6, {c.name, c.min, c.max, 0}), c.expected) << c.name << " " << c.min << ".." << c.max;
  }
}

TEST(ProvidesRef, RangesOverlapWithZeroUnbounded) {
  PackageInfo provider = package("wifi-new");
  provider.provides = {{"wifi", 5, 0, 0}};
  struct Case {
    PackageVersion min, max;
    bool expected;
  } cases[] = {{0, 0, true}, {0, 5, true}, {0, 9, true}, {0, 4, false}, {100, 0, true}, {6, 9, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(providesRef(provider, {"wifi", c.min, c.max, 0}), c.expected) << c.min << ".." << c.max;
  }
  EXPECT_FALSE(providesRef(provider, {"Wifi", 0, 0, 0}));

  provider.provides = {{"wifi", 5, 8, 0}};
  EXPECT_FALSE(providesRef(provider, {"wifi", 9, 0, 0}));
  EXPECT_TRUE(providesRef(provider, {"wifi", 8, 0, 0}));
  // A later entry of the same name may still match.
  provider.provides = {{"wifi", 5, 8, 0}, {"wifi", 20, 0, 0}};
  EXPECT_TRUE(providesRef(provider, {"wifi", 9, 0, 0}));
}

TEST(DependsOn, DependenciesProvidersAndBundleChildren) {
  PackageInfo app = package("app");
  app.deps = {{"lib", 0x07016600, 0, 0}};
  PackageInfo lib = package("lib");
  EXPECT_TRUE(dependsOn(app, lib));
  EXPECT_FALSE(dependsOn(lib, app));
  lib.version = 0x07016300;
  EXPECT_FALSE(dependsOn(app, lib));

  PackageInfo other = package("other-lib");
  other.provides = {{"lib", 0, 0, 0}};
  EXPECT_TRUE(dependsOn(app, other));

  // b is a bundle holding what a needs; a is a bundle with a needy member.
  PackageInfo bundle = package("platform");
  PackageInfo member = package("lib");
  bundle.children = {&member};
  EXPECT_TRUE(dependsOn(app, bundle));
  PackageInfo appBundle = package("extras");
  appBundle.children = {&app};
  EXPECT_TRUE(dependsOn(appBundle, member));
  EXPECT_FALSE(dependsOn(bundle, appBundle));
}

TEST(ConflictsWith, ConflictListAgainstThePackageItself) {
  PackageInfo a = package("a");
  a.conflicts = {{"b", 0, 0x07016600, 0}};
  PackageInfo b = package("b");
  EXPECT_TRUE(conflictsWith(a, b));
  EXPECT_FALSE(conflictsWith(b, a));  // not symmetric
  b.version = 0x07016601;
  EXPECT_FALSE(conflictsWith(a, b));
}

TEST(ConflictsWith, ProvidedOwnNameDecidesBeforeConflictsByProvidedName) {
  PackageInfo a = package("a");
  a.conflicts = {{"feature", 0, 0, 0}};
  PackageInfo b = package("b");
  b.provides = {{"a", 0, 0, 0}, {"feature", 0, 0, 0}};
  EXPECT_FALSE(conflictsWith(a, b));  // b stands in for a with priority 0: settled
  b.provides[0].priority = -1;
  EXPECT_TRUE(conflictsWith(a, b));  // negative: the named package excludes the provider

  // The conflicts list tested against b itself still comes first.
  b.provides[0].priority = 0;
  a.conflicts = {{"b", 0, 0, 0}};
  EXPECT_TRUE(conflictsWith(a, b));

  // Without the own-name entry, the conflict by provided name applies.
  b.provides = {{"feature", 0, 0, 0}};
  a.conflicts = {{"feature", 0, 0, 0}};
  EXPECT_TRUE(conflictsWith(a, b));
}

TEST(ConflictsWith, ProvidingTheOtherPackagesName) {
  struct Case {
    int32_t priority;
    bool aExcludesB, bExcludesA;
  } cases[] = {{0, true, false}, {7, true, false}, {-1, false, true}};
  for (const Case& c : cases) {
    PackageInfo a = package("a");
    a.provides = {{"b", 0, 0, c.priority}};
    PackageInfo b = package("b");
    EXPECT_EQ(conflictsWith(a, b), c.aExcludesB) << c.priority;
    EXPECT_EQ(conflictsWith(b, a), c.bExcludesA) << c.priority;
  }
}

TEST(ConflictsWith, SharedProvidedNameByPriority) {
  struct Case {
    int32_t aPriority, bPriority;
    bool aExcludesB, bExcludesA;
  } cases[] = {{0, 0, false, false}, {1, 0, true, false}, {0, 1, false, true},
               {-1, -2, true, false}, {-5, 3, false, true}};
  for (const Case& c : cases) {
    PackageInfo a = package("a");
    a.provides = {{"dns", 0, 0, c.aPriority}};
    PackageInfo b = package("b");
    b.provides = {{"dns", 0, 0, c.bPriority}};
    EXPECT_EQ(conflictsWith(a, b), c.aExcludesB) << c.aPriority << " vs " << c.bPriority;
    EXPECT_EQ(conflictsWith(b, a), c.bExcludesA) << c.aPriority << " vs " << c.bPriority;
  }
}

TEST(ConflictsWith, BundleChildren) {
  PackageInfo wireless = package("wireless");
  PackageInfo bundle = package("platform");
  PackageInfo member = package("wifi");
  bundle.children = {&member};
  EXPECT_FALSE(conflictsWith(wireless, bundle));
  PackageInfo wifi = package("wifi", 0x06000000);
  EXPECT_TRUE(conflictsWith(wifi, bundle));  // the bundle carries a package of its name

  PackageInfo blocker = package("blocker");
  blocker.conflicts = {{"wireless", 0, 0, 0}};
  PackageInfo extras = package("extras");
  extras.children = {&blocker};
  EXPECT_TRUE(conflictsWith(extras, wireless));
  EXPECT_FALSE(conflictsWith(wireless, extras));
}

TEST(ConflictsWith, PlaceholdersNeverConflict) {
  PackageInfo a = package("a");
  a.conflicts = {{"b", 0, 0, 0}};
  a.provides = {{"b", 0, 0, 0}};
  PackageInfo b = placeholder("b");
  b.conflicts = {{"a", 0, 0, 0}};
  EXPECT_FALSE(conflictsWith(a, b));
  EXPECT_FALSE(conflictsWith(b, a));
  EXPECT_FALSE(isPlaceholder(package("c", 0xFFFFFFFF, 0)));
  EXPECT_FALSE(isPlaceholder(package("c", 0, 0xFFFFFFFF)));
}

TEST(IsOrBundles, OneLevelOnly) {
  PackageInfo inner = package("inner");
  PackageInfo member = package("member");
  member.children = {&inner};
  PackageInfo bundle = package("bundle");
  bundle.children = {&member};
  EXPECT_TRUE(isOrBundles(bundle, "bundle"));
  EXPECT_TRUE(isOrBundles(bundle, "member"));
  EXPECT_FALSE(isOrBundles(bundle, "inner"));
  EXPECT_FALSE(isOrBundles(bundle, "Member"));
}

TEST(CompareVersions, SameNameByVersionThenBuildTime) {
  struct Case {
    PackageVersion aVersion;
    uint32_t aBuild;
    PackageVersion bVersion;
    uint32_t bBuild;
    int expected;
  } cases[] = {
      {0x07016600, 100, 0x07016600, 100, 0},  {0x07016601, 1, 0x07016600, 900, 1},
      {0x07016302, 900, 0x07016600, 1, -1},   {0x07016600, 101, 0x07016600, 100, 1},
      {0x07016600, 99, 0x07016600, 100, -1},  {0xFFFFFFFF, 0, 0x00000001, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareVersions(package("x", c.aVersion, c.aBuild), package("x", c.bVersion, c.bBuild)), c.expected)
        << std::hex << c.aVersion << "/" << c.aBuild << " vs " << c.bVersion << "/" << c.bBuild;
  }
}

TEST(CompareVersions, BundleComparesItsChildOfTheOtherName) {
  PackageInfo installed = package("system", 0x07016600);
  PackageInfo newer = package("system", 0x07016601);
  PackageInfo bundle = package("platform", 0x01000000);  // its own version does not count
  bundle.children = {&newer};
  EXPECT_EQ(compareVersions(bundle, installed), 1);
  EXPECT_EQ(compareVersions(installed, bundle), -1);  // child found on the right: sign reversed
  newer.version = 0x07016300;
  EXPECT_EQ(compareVersions(bundle, installed), -1);
  EXPECT_EQ(compareVersions(installed, bundle), 1);
  newer.version = installed.version;
  EXPECT_EQ(compareVersions(installed, bundle), 0);
  EXPECT_EQ(compareVersions(package("dns"), package("DNS", 0x09000000)), 0);  // unrelated
}

}  // namespace
