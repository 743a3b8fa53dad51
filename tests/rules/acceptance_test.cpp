#include "rules/acceptance.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/system_settings.h"
#include "rules/flagged_state.h"
#include "support/chroot_runner.h"
#include "support/package_records.h"
#include "support/temp_root.h"

namespace {

constexpr uint32_t AllFlags = 0xFFFFFFFF;

// Restores the system library's settings and the flagged state that a test
// changes.
class SettingsGuard {
 public:
  SettingsGuard() : saved(systemSettings()), savedFlagged(flaggedState) {}
  ~SettingsGuard() {
    systemSettings() = saved;
    flaggedState = savedFlagged;
  }
  SettingsGuard(const SettingsGuard&) = delete;
  SettingsGuard& operator=(const SettingsGuard&) = delete;

 private:
  SystemSettings saved;
  uint8_t savedFlagged;
};

InstalledPackage candidate(const std::string& name, PackageVersion version, uint32_t buildTime = 1000) {
  InstalledPackage package(name);
  package.version = version;
  package.buildTime = buildTime;
  return package;
}

// Checks `package` and returns what was printed; the mask goes to `mask`.
std::string check(InstallerState& state, const InstalledPackage& package, uint32_t flags, uint32_t& mask) {
  return captureOutput([&] { mask = checkAcceptance(state, package, flags); });
}

// Checks `package` against `flags`: exactly `output` printed, `expectedMask` returned.
void expectCheck(InstallerState& state, const InstalledPackage& package, uint32_t flags, const std::string& output,
                 uint32_t expectedMask) {
  uint32_t mask = 0xDEAD;
  EXPECT_EQ(check(state, package, flags, mask), output);
  EXPECT_EQ(mask, expectedMask) << output;
}

void restrictSystemPackage(PackageVersion minVersion, PackageVersion maxVersion, uint32_t minBuild, uint32_t maxBuild) {
  SafePackageRange range;
  range.minVersion = minVersion;
  range.maxVersion = maxVersion;
  range.minBuildTime = minBuild;
  range.maxBuildTime = maxBuild;
  systemSettings().deviceModeAnySystem = false;
  systemSettings().safePackages = {range};
}

class Acceptance : public testing::Test {
 protected:
  void SetUp() override {
    flaggedState = 0;
    systemSettings().minSystemVersion = 0;
    systemSettings().safePackages.clear();
    state.architecture = "arm";
  }

  SettingsGuard guard;
  InstallerState state;
  uint32_t mask = 0xDEAD;
};

TEST_F(Acceptance, NewPackageWithItsNeedsMetGivesNoReason) {
  addRecord(state, "base", v(1, 0));
  InstalledPackage package = candidate("tool", v(2, 0));
  package.deps = {ref("base")};
  package.architecture = "arm";
  expectCheck(state, package, Upgrade, "", 0);
  EXPECT_TRUE(state.messages.empty());
}

TEST_F(Acceptance, OlderPackageWithoutDowngradeNamesBothVersions) {
  addRecord(state, "system", v(7, 1, 3));
  InstalledPackage package = candidate("system", v(7, 1));
  expectCheck(state, package, Upgrade,
              "WARNING: omitting package system-7.1: newer package system-7.1.3 is already installed\n", Downgrade);
  ASSERT_EQ(state.messages.size(), 1u);
  EXPECT_EQ(state.messages[0], "WARNING: omitting package system-7.1: newer package system-7.1.3 is already installed");

  expectCheck(state, package, Upgrade | Downgrade, "", Downgrade);
}

TEST_F(Acceptance, SamePackageNeedsReinstallAndPassesSilentlyWithIt) {
  addRecord(state, "tool", v(1, 2), 500);
  InstalledPackage package = candidate("tool", v(1, 2), 500);
  expectCheck(state, package, Upgrade, "WARNING: omitting package tool-1.2: it is already installed\n", Reinstall);
  expectCheck(state, package, Upgrade | Reinstall, "", Reinstall);
  EXPECT_EQ(state.messages.size(), 1u);
}

TEST_F(Acceptance, SameVersionWithNewerBuildTimeIsAnUpgrade) {
  addRecord(state, "tool", v(1, 2), 500);
  expectCheck(state, candidate("tool", v(1, 2), 501), Upgrade, "", Upgrade);
  // The installed record is the first of that name, disabled or not.
  state.packages[0]->disabled = true;
  addRecord(state, "tool", v(0, 1), 1);
  expectCheck(state, candidate("tool", v(1, 1), 501), Upgrade | Downgrade, "", Downgrade);
}

TEST_F(Acceptance, FlaggedStateSilencesEveryLaterMessage) {
  flaggedState = 1;
  addRecord(state, "tool", v(1, 2), 900);
  InstalledPackage package = candidate("tool", v(1, 3), 800);  // newer version, older build
  package.deps = {ref("missing")};
  package.architecture = "mipsbe";
  expectCheck(state, package, Upgrade, "WARNING: cannot install older tool-1.3: router in flagged state\n",
              Forbidden | Upgrade);
  ASSERT_EQ(state.messages.size(), 1u);
  EXPECT_EQ(state.messages[0], "WARNING: cannot install older tool-1.3: router in flagged state");

  // No flag silences it, and the version comparison still adds its bit.
  expectCheck(state, candidate("tool", v(1, 1), 800), AllFlags,
              "WARNING: cannot install older tool-1.1: router in flagged state\n", Forbidden | Downgrade);
}

TEST_F(Acceptance, FlaggedStateAllowsALaterBuild) {
  flaggedState = 1;
  addRecord(state, "tool", v(1, 2), 900);
  expectCheck(state, candidate("tool", v(1, 1), 900), Upgrade,
              "WARNING: omitting package tool-1.1: newer package tool-1.2 is already installed\n", Downgrade);
}

TEST_F(Acceptance, BrandingAndFirmwareSkipTheVersionTest) {
  flaggedState = 1;
  addRecord(state, "branding", v(2, 0), 900);
  addRecord(state, "firmware-rb", v(2, 0), 900);
  addRecord(state, "firmware", v(2, 0), 900);
  expectCheck(state, candidate("branding", v(1, 0), 100), Upgrade, "", 0);
  expectCheck(state, candidate("firmware-rb", v(2, 0), 900), Upgrade, "", 0);
  // Without the dash it is an ordinary package.
  flaggedState = 0;
  expectCheck(state, candidate("firmware", v(1, 0), 900), Upgrade,
              "WARNING: omitting package firmware-1.0: newer package firmware-2.0 is already installed\n", Downgrade);
}

TEST_F(Acceptance, SystemPackageBelowMinimumVersion) {
  systemSettings().minSystemVersion = v(7, 2);
  expectCheck(state, candidate("system", v(7, 1)), Upgrade,
              "ERROR: omitting package system-7.1: min Kalmaris version is 7.2\n", Requirement);
  EXPECT_EQ(check(state, candidate("kalmaris-x", v(7, 1)), Upgrade, mask),
            "ERROR: omitting package kalmaris-x-7.1: min Kalmaris version is 7.2\n");
  expectCheck(state, candidate("system", v(7, 2)), Upgrade, "", 0);
  EXPECT_EQ(check(state, candidate("tool", v(1, 0)), Upgrade, mask), "");
  expectCheck(state, candidate("system", v(7, 1)), Upgrade | Requirement, "", Requirement);
}

TEST_F(Acceptance, ArchitectureMustMatchUnlessEmpty) {
  InstalledPackage package = candidate("tool", v(1, 0));
  package.architecture = "mipsbe";
  expectCheck(state, package, Upgrade, "ERROR: can not install tool-1.0: it is not made for arm, but for mipsbe\n",
              Requirement);
  package.architecture = "";
  expectCheck(state, package, Upgrade, "", 0);
}

TEST_F(Acceptance, OnlyTheFirstMissingDependencyIsNamed) {
  addRecord(state, "present", v(1, 0));
  InstalledPackage package = candidate("tool", v(1, 0));
  package.deps = {ref("present"), ref("lib", v(1, 2)), ref("other")};
  expectCheck(state, package, Upgrade, "ERROR: can not install tool-1.0: lib-1.2 is not installed, but is required\n",
              Requirement);
  // A disabled provider counts; a placeholder does not.
  InstalledPackage& lib = addRecord(state, "lib", v(1, 3));
  lib.disabled = true;
  InstalledPackage& other = addRecord(state, "other", 0xFFFFFFFF, 0xFFFFFFFF);
  EXPECT_EQ(check(state, package, Upgrade, mask),
            "ERROR: can not install tool-1.0: other is not installed, but is required\n");
  other.version = v(1, 0);
  expectCheck(state, package, Upgrade, "", 0);
}

TEST_F(Acceptance, ConflictWithAnEnabledPackage) {
  InstalledPackage& rival = addRecord(state, "rival", v(3, 0));
  rival.conflicts = {ref("tool")};
  InstalledPackage package = candidate("tool", v(1, 0));
  expectCheck(state, package, Upgrade, "ERROR: can not install tool-1.0: it conflicts with rival-3.0\n", Conflict);
  expectCheck(state, package, Upgrade | Conflict, "", Conflict);
  rival.disabled = true;
  expectCheck(state, package, Upgrade, "", 0);
}

TEST_F(Acceptance, OneMessagePerPackageTheFirstNotSilenced) {
  InstalledPackage& rival = addRecord(state, "rival", v(3, 0));
  rival.conflicts = {ref("tool")};
  InstalledPackage package = candidate("tool", v(1, 0));
  package.architecture = "mipsbe";
  package.deps = {ref("missing")};
  expectCheck(state, package, Upgrade, "ERROR: can not install tool-1.0: it is not made for arm, but for mipsbe\n",
              Requirement | Conflict);
  EXPECT_EQ(check(state, package, Upgrade | Requirement, mask),
            "ERROR: can not install tool-1.0: it conflicts with rival-3.0\n");
  expectCheck(state, package, AllFlags, "", Requirement | Conflict);
  EXPECT_EQ(state.messages.size(), 2u);
}

TEST(DeviceMode, OnlyTheSystemPackageIsEverRefused) {
  SettingsGuard guard;
  restrictSystemPackage(v(7, 1), v(7, 1), 0, 0);
  EXPECT_TRUE(isAllowedByDeviceMode(candidate("tool", v(9, 9), 5)));
  EXPECT_TRUE(isAllowedByDeviceMode(candidate("System", v(9, 9), 5)));
  EXPECT_FALSE(isAllowedByDeviceMode(candidate("system", v(9, 9), 5)));
}

TEST(DeviceMode, EmptyListOrAnySystemAllows) {
  SettingsGuard guard;
  systemSettings().safePackages.clear();
  systemSettings().deviceModeAnySystem = false;
  EXPECT_TRUE(isAllowedByDeviceMode(candidate("system", v(7, 1), 5)));
  restrictSystemPackage(v(7, 1), v(7, 1), 0, 0);
  systemSettings().deviceModeAnySystem = true;
  EXPECT_TRUE(isAllowedByDeviceMode(candidate("system", v(9, 9), 5)));
}

TEST(DeviceMode, RangesAreInclusiveInVersionAndBuildTime) {
  SettingsGuard guard;
  restrictSystemPackage(v(7, 1), v(7, 3), 100, 200);
  SafePackageRange second;
  second.minVersion = v(8, 0);
  second.maxVersion = v(8, 0);
  second.minBuildTime = 0;
  second.maxBuildTime = 0xFFFFFFFF;
  systemSettings().safePackages.push_back(second);
  struct Case {
    PackageVersion version;
    uint32_t buildTime;
    bool allowed;
  };
  const Case cases[] = {
      {v(7, 1), 100, true},        {v(7, 3), 200, true},   {v(7, 2), 150, true},  {v(7, 0), 150, false},
      {v(7, 4), 150, false},       {v(7, 2), 99, false},   {v(7, 2), 201, false}, {v(8, 0), 0, true},
      {v(8, 0), 0xFFFFFFFF, true}, {v(8, 0, 1), 5, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isAllowedByDeviceMode(candidate("system", c.version, c.buildTime)), c.allowed)
        << formatVersion(c.version) << " built " << c.buildTime;
  }
}

// The device-mode refusal depends on "/ram/SECURE", so these run in a root
// of their own.
TEST(DeviceMode, RefusalIsSaidWhateverTheFlagsUnlessSecure) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs("/tmp");
  root.makeDirs("/ram");
  runInChroot(root.path(), [&] {
    SettingsGuard guard;
    flaggedState = 0;
    restrictSystemPackage(v(7, 1), v(7, 1), 0, 0xFFFFFFFF);
    InstallerState state;
    expectCheck(state, candidate("system", v(7, 2)), Upgrade,
                "ERROR: will not install package system-7.2, not allowed by device-mode\n", Forbidden);
    expectCheck(state, candidate("system", v(7, 2)), AllFlags,
                "ERROR: will not install package system-7.2, not allowed by device-mode\n", Forbidden);
    expectCheck(state, candidate("system", v(7, 1)), Upgrade, "", 0);

    // Something said earlier keeps it silent; the bits are still added.
    addRecord(state, "system", v(7, 3));
    expectCheck(state, candidate("system", v(7, 2)), Upgrade,
                "WARNING: omitting package system-7.2: newer package system-7.3 is already installed\n",
                Forbidden | Downgrade);

    std::ofstream("/ram/SECURE") << "";
    expectCheck(state, candidate("system", v(7, 4)), Upgrade, "", Upgrade);
  });
}

}  // namespace
