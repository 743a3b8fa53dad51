#include "model/package_info.h"

#include <gtest/gtest.h>

#include "support/test_packages.h"

namespace installer {
namespace {

constexpr PackageVersion v71 = 0x07016600;

// A record built in one expression, for table rows.
struct Pkg : PackageInfo {
  explicit Pkg(const char* n, uint32_t v = v71, uint32_t b = 100) : PackageInfo(n) { version = v, buildTime = b; }
  Pkg& dep(const DependencyRef& r) { return deps.push_back(r), *this; }
  Pkg& prov(const DependencyRef& r) { return provides.push_back(r), *this; }
  Pkg& conf(const DependencyRef& r) { return conflicts.push_back(r), *this; }
  Pkg& child(const PackageInfo& c) { return children.push_back(c), *this; }
};

// A bound of 0 is no bound; a provided name's range need only overlap, and
// any entry of that name may. A package needs another that satisfies or
// provides a dependency, directly or through bundle members on either side.
TEST(PackageInfo, SatisfiesProvidesDependsOnAndCompares) {
  const Pkg p = Pkg("ipv6").prov(ref("wifi", 5, 8)).prov(ref("wifi", 20)).prov(ref("dns", 5));
  struct Case {
    DependencyRef r;
    bool satisfied;
    bool provided;
  };
  const Case cases[] = {
      {ref("ipv6", v71, v71), true, false}, {ref("ipv6", 0, v71 - 1), false, false}, {ref("dns", 0, 4), false, false},
      {ref("dns", 0, 5), false, true},      {ref("wifi", 9, 19), false, false},      {ref("wifi", 9), false, true},
  };
  for (auto [r, satisfied, provided] : cases) {
    EXPECT_EQ(satisfies(p, r), satisfied) << r.name << r.min << "-" << r.max;
    EXPECT_EQ(providesRef(p, r), provided) << r.name << r.min << "-" << r.max;
  }
  const Pkg app = Pkg("app").dep(ref("lib", v71)), lib("lib"), old("lib", 0x07016300);
  EXPECT_TRUE(dependsOn(app, lib));
  EXPECT_TRUE(dependsOn(app, Pkg("x").prov(ref("lib"))));
  EXPECT_TRUE(dependsOn(app, Pkg("b").child(lib)));
  EXPECT_TRUE(dependsOn(Pkg("b").child(app), lib));
  EXPECT_FALSE(dependsOn(lib, app));
  EXPECT_FALSE(dependsOn(app, old));
  // Versions of one name compare by version, then build time; a bundle by its
  // member of the other's name (one level down), whatever its own version.
  const Pkg bundle = Pkg("platform", ~0u).child(Pkg("system", 0x07016300).child(Pkg("inner")));
  struct Order {
    Pkg a;
    Pkg b;
    int order;
  };
  const Order orders[] = {
      {Pkg("x", v71 + 1, 1), Pkg("x", v71, 9), 1}, {Pkg("x", v71, 99), Pkg("x"), -1},      {bundle, Pkg("system"), -1},
      {Pkg("system", 0x07016300, 99), bundle, -1}, {Pkg("system", 0x07016300), bundle, 0}, {Pkg("dns"), Pkg("DNS"), 0}};
  for (const auto& [a, b, order] : orders) EXPECT_EQ(compareVersions(a, b), order) << a.name << " " << b.name;
  EXPECT_TRUE(isOrBundles(bundle, "platform"));
  EXPECT_TRUE(isOrBundles(bundle, "system"));
  EXPECT_FALSE(isOrBundles(bundle, "inner"));
}

// Providing the other's own name decides, after the conflicts against the
// package itself and before those by provided name; of a name both provide,
// the higher priority excludes the lower. A bundle conflicts through its
// members; placeholders (version and build time all ones) never conflict.
TEST(PackageInfo, ConflictsWith) {
  struct Case {
    Pkg a;
    Pkg b;
    bool ab;
    bool ba;
  };
  const Case cases[] = {
      {Pkg("a").conf(ref("f")), Pkg("b").prov(ref("a")).prov(ref("f")), false, true},
      {Pkg("a").conf(ref("b")), Pkg("b").prov(ref("a")), true, true},
      {Pkg("a").conf(ref("f")), Pkg("b").prov(ref("f")), true, false},
      {Pkg("a").prov(ref("b", 0, 0, -1)), Pkg("b"), false, true},
      {Pkg("a").prov(ref("d")), Pkg("b").prov(ref("d")), false, false},
      {Pkg("a").prov(ref("d", 0, 0, -5)), Pkg("b").prov(ref("d", 0, 0, 3)), false, true},
      {Pkg("wifi", 1), Pkg("platform").child(Pkg("wireless")).child(Pkg("wifi")), true, false},
      {Pkg("extras").child(Pkg("blocker").conf(ref("wireless"))), Pkg("wireless"), true, false},
      {Pkg("a").conf(ref("b")), Pkg("b", ~0u, ~0u).conf(ref("a")), false, false},
      {Pkg("a").conf(ref("b")), Pkg("b", ~0u, 0), true, false},
  };
  for (const auto& [a, b, ab, ba] : cases) {
    EXPECT_EQ(conflictsWith(a, b), ab) << a.name << " conflicts with " << b.name;
    EXPECT_EQ(conflictsWith(b, a), ba) << b.name << " conflicts with " << a.name;
  }
}

}  // namespace
}  // namespace installer
