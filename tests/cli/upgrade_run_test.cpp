// End-to-end upgrade runs of `installer -r ROOT`: package files laid out in
// the package directories of a throw-away device root, the run's messages
// read back from "/flash/postlog", and the whole tree compared where a run
// must leave it alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "support/chroot_runner.h"
#include "support/process_runner.h"
#include "support/signed_packages.h"
#include "support/temp_root.h"

namespace {

constexpr PackageVersion v1 = makeVersion(1, 0, Final, 0);
constexpr PackageVersion v2 = makeVersion(2, 0, Final, 0);
constexpr PackageVersion v3 = makeVersion(3, 0, Final, 0);
constexpr PackageVersion v4 = makeVersion(4, 0, Final, 0);

const std::string downloadDir = "/rw/pckg/.download/";
const std::string flashDir = "/flash/rw/pckg/";
const std::string systemDir = "/flash/var/pckg/";

PackageRecipe toolSpec(const std::string& name, PackageVersion version) {
  return packageRecipe(name, version, {fileEntry("bin/" + name, name + " " + std::to_string(version) + "\n")});
}

std::string toolPackage(const std::string& name, PackageVersion version) {
  return signedPackage(toolSpec(name, version));
}

std::string versionLine(PackageVersion version) { return std::to_string(version) + " 1700000000\n"; }

std::multiset<std::string> linesOf(const std::string& text) {
  std::multiset<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.insert(line);
  return lines;
}

// describeTree without the lines of `paths`.
std::string treeExcept(const TempRoot& root, const std::set<std::string>& paths) {
  std::istringstream lines(describeTree(root.path()));
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (paths.count(line.substr(0, line.find(' '))) == 0) kept += line + "\n";
  }
  return kept;
}

std::string linkText(const TempRoot& root, const std::string& path) {
  char buffer[256];
  ssize_t n = readlink(root.at(path).c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

ProcessResult upgrade(const TempRoot& root, std::vector<std::string> options = {},
                      const std::vector<std::pair<std::string, std::string>>& environment = {}) {
  options.insert(options.begin(), {"-r", root.path()});
  return runInstaller(options, "", environment);
}

class UpgradeRun : public testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    prepareDeviceRoot(root);
  }

  // Runs an upgrade that must fail with `messages` in the log and change
  // nothing but the log.
  void expectNothingCommitted(const std::string& messages) {
    std::string before = treeWithoutPostlog(root);
    ProcessResult result = upgrade(root);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(root.readFile("/flash/postlog"), messages);
    EXPECT_EQ(treeWithoutPostlog(root), before);
  }

  TempRoot root;
};

TEST(UpgradeDirectories, DownloadFirstThenFlashThenSystemDirectory) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char* what;
    bool ignoreMarker;
    std::vector<std::string> dirs;  // each gets a package named after its place
    const char* installed;
    bool secureKept;
  };
  const Case cases[] = {
      {"download used", false, {downloadDir, flashDir, systemDir}, "download", true},
      {"IGNORE marker", true, {downloadDir, flashDir, systemDir}, "flash", false},
      {"empty download dir", false, {flashDir, systemDir}, "flash", false},
      {"system dir last", false, {systemDir}, "system", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempRoot root;
    prepareDeviceRoot(root);
    root.writeFile("/ram/SECURE", "");
    // Files that are no package file are not candidates.
    root.writeFile(downloadDir + "notes.txt", "x");
    if (c.ignoreMarker) root.writeFile(downloadDir + "IGNORE", "");
    for (const std::string& dir : c.dirs) {
      std::string name = dir == downloadDir ? "download" : dir == flashDir ? "flash" : "system";
      root.writeFile(dir + name + ".kmp", toolPackage(name, v1));
    }
    ProcessResult result = upgrade(root);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(root.readFile("/flash/postlog"), std::string("installed ") + c.installed + "-1.0\n");
    EXPECT_EQ(root.readFile(std::string("/flash/bin/") + c.installed), c.installed + (" " + std::to_string(v1) + "\n"));
    EXPECT_EQ(root.exists("/ram/SECURE"), c.secureKept);
  }
}

TEST(UpgradeSelection, DowngradeMarkerSetsTheFloor) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char* marker;  // null: no marker
    PackageVersion chosen;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {nullptr, v4,
       {"WARNING: omitting package tool-1.0: newer package is already provided",
        "WARNING: omitting package tool-2.0: newer package is already provided"}},
      {"", v1,
       {"WARNING: omitting package tool-2.0: older package is already provided",
        "WARNING: omitting package tool-4.0: older package is already provided"}},
      {"no number\n", v1,
       {"WARNING: omitting package tool-2.0: older package is already provided",
        "WARNING: omitting package tool-4.0: older package is already provided"}},
      {"33580544\n", v2,  // the packed value of version 2.0
       {"WARNING: ommitting package tool-1.0: not allowed",
        "WARNING: omitting package tool-4.0: older package is already provided"}},
  };
  ASSERT_EQ(std::to_string(v2), "33580544");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marker == nullptr ? "no marker" : c.marker);
    TempRoot root;
    prepareDeviceRoot(root);
    installByMetaFiles(root, "tool", v3, {"bin/tool"});
    if (c.marker != nullptr) root.writeFile("/ram/DOWNGRADE", c.marker);
    for (PackageVersion version : {v1, v2, v4}) {
      root.writeFile(flashDir + "tool-" + std::to_string(version) + ".kmp", toolPackage("tool", version));
    }
    ProcessResult result = upgrade(root);
    EXPECT_EQ(result.exitStatus, 0);
    std::multiset<std::string> expected(c.warnings.begin(), c.warnings.end());
    expected.insert("installed tool-" + formatVersion(c.chosen));
    EXPECT_EQ(linesOf(root.readFile("/flash/postlog")), expected);
    EXPECT_EQ(root.readFile("/flash/var/pdb/tool/version"), versionLine(c.chosen));
  }
}

TEST(UpgradeSelection, DependencyIsInstalledFirstWhateverTheDirectoryOrder) {
  SKIP_UNLESS_ROOT();
  // The same two file names in both roles: one of the two runs lists the
  // dependent package's file first.
  for (bool alphaFirst : {true, false}) {
    SCOPED_TRACE(alphaFirst);
    std::string lib = alphaFirst ? "alpha" : "beta";
    std::string app = alphaFirst ? "beta" : "alpha";
    TempRoot root;
    prepareDeviceRoot(root);
    PackageRecipe appSpec = toolSpec(app, v1);
    appSpec.deps = std::vector<DependencyRef>{{lib, v1, 0, 0}};
    root.writeFile(flashDir + app + ".kmp", signedPackage(appSpec));
    root.writeFile(flashDir + lib + ".kmp", toolPackage(lib, v1));
    ProcessResult result = upgrade(root);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(root.readFile("/flash/postlog"), "installed " + lib + "-1.0\ninstalled " + app + "-1.0\n");
    EXPECT_TRUE(root.exists("/flash/bin/" + app));
  }
}

TEST_F(UpgradeRun, UserChoicesOutliveTheUpgrade) {
  installByMetaFiles(root, "off", v1, {"x/off/bin/off"});
  root.writeFile("/flash/var/pdb/off/disabled", "user\n");
  installByMetaFiles(root, "on", v1, {"bin/on"});
  root.writeFile("/flash/var/pdb/on/enabled", "user\n");
  root.writeFile(flashDir + "off.kmp", toolPackage("off", v2));
  root.writeFile(flashDir + "on.kmp", toolPackage("on", v2));
  ProcessResult result = upgrade(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/var/pdb/off/disabled"), "user\n");
  EXPECT_EQ(root.readFile("/flash/x/off/bin/off"), "off " + std::to_string(v2) + "\n");
  EXPECT_FALSE(root.exists("/flash/bin/off"));
  EXPECT_EQ(root.readFile("/flash/var/pdb/on/enabled"), "user\n");
  EXPECT_FALSE(root.exists("/flash/var/pdb/on/disabled"));
  EXPECT_EQ(root.readFile("/flash/bin/on"), "on " + std::to_string(v2) + "\n");
}

TEST_F(UpgradeRun, EnabledNameMissingAfterRunFromFlashFailsIt) {
  // "feature" was provided by the old "old" and is by nothing afterwards.
  installByMetaFiles(root, "old", v1, {"bin/old"});
  root.writeFile("/flash/var/pdb/old/provides", "feature 0 0 0\n");
  root.writeFile(flashDir + "old.kmp", toolPackage("old", v2));
  // A failed run prints no "installed" line.
  expectNothingCommitted("ERROR: missing package feature\n");
}

TEST_F(UpgradeRun, EnabledNameMissingAfterRunFromDownloadIsAccepted) {
  installByMetaFiles(root, "old", v1, {"bin/old"});
  root.writeFile("/flash/var/pdb/old/provides", "feature 0 0 0\n");
  root.writeFile(downloadDir + "old.kmp", toolPackage("old", v2));
  ProcessResult result = upgrade(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/postlog"), "installed old-2.0\n");
  EXPECT_EQ(root.readFile("/flash/var/pdb/old/version"), versionLine(v2));
  EXPECT_FALSE(root.exists("/flash/var/pdb/old/provides"));
}

TEST(UpgradeIpv6, MarkerEnablesDisabledIpv6) {
  SKIP_UNLESS_ROOT();
  for (bool marker : {true, false}) {
    SCOPED_TRACE(marker);
    TempRoot root;
    prepareDeviceRoot(root);
    installByMetaFiles(root, "ipv6", v1, {"x/ipv6/bin/ipv6"});
    root.writeFile("/flash/var/pdb/ipv6/disabled", "auto\n");
    if (marker) root.writeFile("/ram/ipv6", "");
    std::string before = treeWithoutPostlog(root);
    ProcessResult result = upgrade(root);
    EXPECT_EQ(result.exitStatus, 0);
    if (!marker) {
      EXPECT_EQ(treeWithoutPostlog(root), before);
      continue;
    }
    EXPECT_EQ(root.readFile("/flash/var/pdb/ipv6/enabled"), "user\n");
    EXPECT_FALSE(root.exists("/flash/var/pdb/ipv6/disabled"));
    EXPECT_TRUE(root.exists("/flash/PCKGS_CHANGED"));
  }
}

TEST_F(UpgradeRun, FailingSecondCandidateLeavesNothingOfTheFirst) {
  installByMetaFiles(root, "lib", v1, {"bin/lib", "bin/obsolete"});
  // A pending disable applied before the run is dropped too.
  installByMetaFiles(root, "sched", v1, {"bin/sched"});
  root.writeFile("/ram/pdb/sched/schedule", "disable\n");
  PackageRecipe app = toolSpec("app", v1);
  app.deps = std::vector<DependencyRef>{{"lib", v2, 0, 0}};
  root.writeFile(flashDir + "app.kmp", buildPackage(app));  // not signed
  root.writeFile(flashDir + "lib.kmp", toolPackage("lib", v2));
  expectNothingCommitted("disabled sched-1.0\nERROR: installation of app-1.0 failed: broken package\n");
}

PackageRecipe kernelSpec() {
  PackageRecipe spec = packageRecipe("kernel", v1, {fileEntry("boot/vmlinux", "kernel bits\n")});
  spec.headerFlags = 1;
  spec.squashfsImage = std::string(5000, 's');
  return spec;
}

TEST_F(UpgradeRun, BootImagePackageBecomesTheBootImage) {
  std::string file = signedPackage(kernelSpec());
  root.writeFile(flashDir + "kernel.kmp", file);
  root.writeFile("/flash/boot/kernel", "old kernel");
  ProcessResult result = upgrade(root, {}, {{"bootimage", "1"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/postlog"), "installed kernel-1.0\n");
  EXPECT_EQ(root.readFile("/flash/bootimage"), file);
  EXPECT_EQ(linkText(root, "/flash/var/pdb/kernel/image"), "/flash/bootimage");
  EXPECT_FALSE(root.exists("/flash/boot/kernel"));
  EXPECT_FALSE(root.exists(flashDir + "kernel.kmp"));
  EXPECT_FALSE(root.exists("/flash/boot/vmlinux"));
}

TEST_F(UpgradeRun, BootImagePackageWithoutBootimageKeepsItsImage) {
  std::string file = signedPackage(kernelSpec());
  root.writeFile(flashDir + "kernel.kmp", file);
  root.writeFile("/flash/boot/kernel", "old kernel");
  ProcessResult result = upgrade(root);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(root.readFile("/flash/var/pdb/kernel/image"), file);
  EXPECT_EQ(root.readFile("/flash/boot/vmlinux"), "kernel bits\n");
  EXPECT_EQ(root.readFile("/flash/boot/kernel"), "old kernel");
  EXPECT_FALSE(root.exists("/flash/bootimage"));
  EXPECT_FALSE(root.exists(flashDir + "kernel.kmp"));
}

TEST_F(UpgradeRun, RunThatStagesNothingLeavesNoMarkers) {
  // The candidate is the package installed by the first run.
  root.writeFile(flashDir + "tool.kmp", toolPackage("tool", v1));
  ASSERT_EQ(upgrade(root).exitStatus, 0);
  ASSERT_TRUE(root.exists("/flash/PCKGS_CHANGED"));
  ASSERT_EQ(unlink(root.at("/flash/PCKGS_CHANGED").c_str()), 0);
  // The package is not reported as installed when it is omitted, and once,
  // not twice, when it is installed again.
  struct Case {
    std::vector<std::string> options;
    std::string log;
  };
  const Case cases[] = {{{}, "WARNING: omitting package tool-1.0: it is already installed\n"},
                        {{"--safe"}, "WARNING: omitting package tool-1.0: it is already installed\n"},
                        {{"--reinstall"}, "installed tool-1.0\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "plain" : c.options[0]);
    root.writeFile("/flash/postlog", "");
    std::string before = treeWithoutPostlog(root);
    ProcessResult result = upgrade(root, c.options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(root.readFile("/flash/postlog"), c.log);
    EXPECT_EQ(treeWithoutPostlog(root), before);
    EXPECT_FALSE(root.exists("/flash/PCKGS_CHANGED"));
    EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  }
}

// --safe defers the work to a manifest; --commit later carries it out just
// as a plain run would have, --cancel drops it.
class SafeUpgrade : public UpgradeRun {
 protected:
  static void layOut(const TempRoot& target) {
    prepareDeviceRoot(target);
    installByMetaFiles(target, "tool", v1, {"bin/tool", "bin/obsolete"});
    target.writeFile(flashDir + "tool.kmp", toolPackage("tool", v2));
  }
  void SetUp() override {
    UpgradeRun::SetUp();
    if (IsSkipped()) return;
    layOut(root);
  }
  // Runs with --safe and checks the manifest: kind and path of each line,
  // and the contents of each source. Returns the sources.
  std::set<std::string> runSafe() {
    std::string before = describeTree(root.path());
    ProcessResult result = upgrade(root, {"--safe"});
    EXPECT_EQ(result.exitStatus, 0);
    // Kind and path of each line, and for a move the contents of its source.
    const std::pair<std::string, std::string> lines[] = {
        {"M /flash/PCKGS_CHANGED", ""},
        {"U /flash/bin/obsolete", ""},  // the old version's file the new one lacks
        {"M /flash/bin/tool", "tool " + std::to_string(v2) + "\n"},
        {"M /flash/var/pdb/tool/deps", ""},
        {"M /flash/var/pdb/tool/files", "bin/tool\n"},
        {"M /flash/var/pdb/tool/version", versionLine(v2)},
    };
    std::istringstream manifest(root.readFile("/ram/MANIFEST"));
    std::string line;
    std::set<std::string> sources;
    for (const auto& expected : lines) {
      EXPECT_TRUE(std::getline(manifest, line));
      if (expected.first[0] == 'U') {
        EXPECT_EQ(line, expected.first);
        continue;
      }
      std::string prefix = expected.first + " ";
      EXPECT_EQ(line.substr(0, prefix.size()), prefix);
      std::string source = line.substr(std::min(prefix.size(), line.size()));
      EXPECT_EQ(root.readFile(source), expected.second) << source;
      sources.insert(source);
    }
    EXPECT_FALSE(std::getline(manifest, line)) << line;
    std::set<std::string> added = sources;
    added.insert({"/ram/MANIFEST", "/flash/postlog"});
    EXPECT_EQ(treeExcept(root, added), before);
    EXPECT_EQ(root.readFile("/flash/postlog"), "installed tool-2.0\n");
    return sources;
  }
};

TEST_F(SafeUpgrade, CommitCarriesOutWhatAPlainRunWould) {
  TempRoot plain;
  layOut(plain);
  ASSERT_EQ(upgrade(plain).exitStatus, 0);
  runSafe();
  ProcessResult commit = runInstaller({"-r", root.path(), "--commit"});
  EXPECT_EQ(commit.exitStatus, 0);
  EXPECT_EQ(commit.err, "");
  EXPECT_EQ(treeExcept(root, {"/ram/MANIFEST"}), treeExcept(plain, {}));
  EXPECT_EQ(root.readFile("/flash/bin/tool"), "tool " + std::to_string(v2) + "\n");
}

TEST_F(SafeUpgrade, CancelDropsTheManifest) {
  runSafe();
  std::string deferred = treeExcept(root, {"/ram/MANIFEST"});
  ProcessResult cancel = runInstaller({"-r", root.path(), "--cancel"});
  EXPECT_EQ(cancel.exitStatus, 0);
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_EQ(describeTree(root.path()), deferred);
}

}  // namespace
