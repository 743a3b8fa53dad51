// Restoring records from the meta and state files of their directories.
#include "pdb/package_state.h"

#include <gtest/gtest.h>

#include "support/chroot_runner.h"
#include "support/temp_root.h"

namespace {

const std::string pdb = "/flash/var/pdb/";

std::vector<std::string> names(const std::vector<DependencyRef>& list) {
  std::vector<std::string> out;
  for (const DependencyRef& ref : list) {
    out.push_back(ref.name + " " + std::to_string(ref.min) + " " + std::to_string(ref.max) + " " +
                  std::to_string(ref.priority));
  }
  return out;
}

using Lines = std::vector<std::string>;

TEST(PackageState, RestoresEveryMetaFile) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "routing/version", "117532163\n1700000000\n");
  root.writeFile(pdb + "routing/deps", "system 117532160 0\n  dhcp\t0 7\n");
  root.writeFile(pdb + "routing/provides", "ospf 1 2 -3\nbgp 0 0 12\n");
  root.writeFile(pdb + "routing/conflicts", "old-routing 0 4294967295\n");
  root.writeFile(pdb + "routing/files", "bin/ospfd\n/lib/libospf.so\n\nnvram/a..b\n");
  runInChroot(root.path(), [] {
    InstalledPackage package("routing");
    readPackageState(package);
    EXPECT_EQ(package.version, 117532163u);
    EXPECT_EQ(package.buildTime, 1700000000u);
    EXPECT_EQ(names(package.deps), (Lines{"system 117532160 0 0", "dhcp 0 7 0"}));
    EXPECT_EQ(names(package.provides), (Lines{"ospf 1 2 -3", "bgp 0 0 12"}));
    EXPECT_EQ(names(package.conflicts), (Lines{"old-routing 0 4294967295 0"}));
    EXPECT_EQ(package.files, (std::set<std::string>{"/bin/ospfd", "/lib/libospf.so", "/nvram/a..b"}));
    EXPECT_FALSE(package.isBundle);
    EXPECT_TRUE(package.bundle.name.empty());
    EXPECT_EQ(package.pending, PendingAction::None);
  });
}

TEST(PackageState, HostileFileLinesAreIgnored) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "p/version", "1 1\n");
  root.writeFile(pdb + "p/files", std::string("/\n//\n..\n../etc/passwd\nbin/../../etc\nbin/..\nbad\tname\nnul") +
                                      '\0' + "x\ncr\r\ndel\x7f\nkept\n");
  runInChroot(root.path(), [] {
    InstalledPackage package("p");
    readPackageState(package);
    EXPECT_EQ(package.files, std::set<std::string>{"/kept"});
    EXPECT_EQ(package.pending, PendingAction::None);
  });
}

TEST(PackageState, FileLineRule) {
  struct Case {
    const char* line;
    bool accepted;
  };
  const Case cases[] = {
      {"bin/x", true}, {"/bin/x", true}, {"a..b", true},  {"...", true},   {".x/y", true},
      {"", false},     {"/", false},     {"///", false},  {"..", false},   {"a/../b", false},
      {"a/..", false}, {"../a", false},  {"a\nb", false}, {"\x1f", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isAcceptableFileLine(c.line), c.accepted) << '"' << c.line << '"';
}

TEST(PackageState, MissingOrMalformedVersionMarksForUninstall) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs(pdb + "gone");
  root.writeFile(pdb + "half/version", "12\n");
  root.writeFile(pdb + "signed/version", "-1 5\n");
  root.writeFile(pdb + "junk/version", "12x 5\n");
  root.writeFile(pdb + "huge/version", "4294967296 5\n");
  runInChroot(root.path(), [] {
    for (const char* name : {"gone", "half", "signed", "junk", "huge"}) {
      InstalledPackage package(name);
      readPackageState(package);
      EXPECT_EQ(package.pending, PendingAction::Uninstall) << name;
      EXPECT_EQ(package.version, 0u) << name;
      EXPECT_TRUE(package.isBundle) << name << ": no \"files\" file";
    }
  });
}

TEST(PackageState, MalformedDependencyKeepsEarlierEntriesAndMarksForUninstall) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "p/version", "1 2\n");
  root.writeFile(pdb + "p/deps", "a 1 2\nb 3\nc 4 5\n");
  root.writeFile(pdb + "p/files", "");
  runInChroot(root.path(), [] {
    InstalledPackage package("p");
    readPackageState(package);
    EXPECT_EQ(names(package.deps), (Lines{"a 1 2 0"}));
    EXPECT_EQ(package.pending, PendingAction::Uninstall);
    EXPECT_EQ(package.version, 1u);
    EXPECT_FALSE(package.isBundle);
    EXPECT_TRUE(package.files.empty());
  });
}

TEST(PackageState, RefListReading) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile("/missing-priority", "a 1 2 3\nb 1 2\n");
  root.writeFile("/name-only", "a 1 2\nb");
  root.writeFile("/empty", "\n\n");
  root.writeFile("/signed-min", "a -1 2\n");
  runInChroot(root.path(), [] {
    std::vector<DependencyRef> list;
    EXPECT_TRUE(readRefList("/nonexistent", list, false));
    EXPECT_TRUE(readRefList("/empty", list, true));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(readRefList("/missing-priority", list, true));
    EXPECT_EQ(names(list), (Lines{"a 1 2 3"}));
    list.clear();
    EXPECT_FALSE(readRefList("/missing-priority", list, false)) << "the extra column reads as a name without numbers";
    EXPECT_EQ(names(list), (Lines{"a 1 2 0"}));
    list.clear();
    EXPECT_FALSE(readRefList("/name-only", list, false));
    EXPECT_EQ(names(list), (Lines{"a 1 2 0"}));
    list.clear();
    EXPECT_FALSE(readRefList("/signed-min", list, false));
    EXPECT_TRUE(list.empty());
  });
}

TEST(PackageState, BundleFileNamesTheBundleAndMarksForUninstall) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "wifi/version", "5 6\n");
  root.writeFile(pdb + "wifi/bundle", "platform\n");
  root.writeFile(pdb + "wifi/files", "lib/wifi.ko\n");
  runInChroot(root.path(), [] {
    InstalledPackage package("wifi");
    readPackageState(package);
    EXPECT_EQ(package.bundle.name, "platform");
    EXPECT_EQ(package.bundle.min, 0u);
    EXPECT_EQ(package.bundle.max, 0u);
    EXPECT_EQ(package.pending, PendingAction::Uninstall);
    EXPECT_EQ(package.files, std::set<std::string>{"/lib/wifi.ko"});
  });
}

TEST(PackageState, RecordWithVersionIsNotRestoredFromMetaFiles) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "p/deps", "a 1\n");  // malformed, but never read
  root.writeFile(pdb + "p/files", "x\n");
  runInChroot(root.path(), [] {
    InstalledPackage package("p");
    package.version = 7;
    package.isBundle = true;
    readPackageState(package);
    EXPECT_EQ(package.pending, PendingAction::None);
    EXPECT_TRUE(package.deps.empty());
    EXPECT_TRUE(package.files.empty());
    EXPECT_TRUE(package.isBundle);
  });
}

TEST(PackageState, StateFiles) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char* name;
    const char* disabled;  // null: no file
    bool enabled;
    bool expectDisabled;
    bool expectByUser;
  };
  const Case cases[] = {
      {"auto", "auto\n", false, true, false},       {"autonl", "auto", false, true, false},
      {"user", "user\n", false, true, true},        {"other", "Auto\n", false, true, true},
      {"spaced", "auto \n", false, true, true},     {"empty", "", false, true, true},
      {"autoenabled", "auto\n", true, true, false}, {"enabled", nullptr, true, false, true},
      {"none", nullptr, false, false, false},
  };
  TempRoot root;
  for (const Case& c : cases) {
    root.writeFile(pdb + c.name + "/version", "1 1\n");
    if (c.disabled != nullptr) root.writeFile(pdb + c.name + "/disabled", c.disabled);
    if (c.enabled) root.writeFile(pdb + c.name + "/enabled", "user\n");
  }
  runInChroot(root.path(), [&] {
    for (const Case& c : cases) {
      InstalledPackage package(c.name);
      package.byUser = true;  // cleared before the files are read
      package.disabled = true;
      readPackageState(package);
      EXPECT_EQ(package.disabled, c.expectDisabled) << c.name;
      EXPECT_EQ(package.byUser, c.expectByUser) << c.name;
    }
  });
}

}  // namespace
