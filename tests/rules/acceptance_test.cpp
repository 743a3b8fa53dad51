#include "rules/acceptance.h"

#include <gtest/gtest.h>

#include "support/install_run.h"

namespace installer {
namespace {

using Acceptance = InstallRun;

// Over "rival" 3.0, which conflicts with "clash", and "tool", "lib", "branding", "firmware-rb" and
// "system" 2.0 built at 900: the candidate's name, version, build time, architecture and dependencies;
// the flags; the router in flagged state; /ram/SECURE exists; the one message said or ""; the reasons.
// clang-format off
struct Case {
  const char* name;
  PackageVersion version;
  uint32_t buildTime;
  const char* architecture;
  std::vector<DependencyRef> deps;
  uint32_t flags;
  bool flagged;
  bool secure;
  const char* said;
  uint32_t mask;
};
const Case cases[] = {
    {"new", v(1, 0), 1000, "i386", {ref("lib"), ref("tool", v(2, 0))}, Upgrade, false, false, "", 0},
    {"tool", v(1, 9), 1000, "", {}, Upgrade, false, false, "WARNING: omitting package tool-1.9: newer package tool-2.0 is already installed", Downgrade},
    {"tool", v(1, 9), 1000, "", {}, Upgrade | Downgrade, false, false, "", Downgrade},
    {"tool", v(2, 0), 900, "", {}, Upgrade, false, false, "WARNING: omitting package tool-2.0: it is already installed", Reinstall},
    {"tool", v(2, 0), 900, "", {}, Upgrade | Reinstall, false, false, "", Reinstall},
    {"tool", v(2, 1), 800, "", {}, Upgrade, false, false, "", Upgrade},
    // Flagged: an older build is refused whatever the flags, and nothing else is said.
    {"tool", v(2, 1), 800, "mips", {ref("gone")}, Upgrade, true, false, "WARNING: cannot install older tool-2.1: router in flagged state", Forbidden | Upgrade},
    {"tool", v(1, 9), 900, "", {}, Upgrade, true, false, "WARNING: omitting package tool-1.9: newer package tool-2.0 is already installed", Downgrade},
    // Branding and firmware packages replace each other by rules of their own.
    {"branding", v(1, 0), 100, "", {}, Upgrade, true, false, "", 0},
    {"firmware-rb", v(2, 0), 900, "", {}, Upgrade, true, false, "", 0},
    {"system", v(7, 1), 1000, "", {}, Upgrade, false, false, "ERROR: omitting package system-7.1: min Kalmaris version is 7.2", Upgrade | Requirement},
    {"system", v(7, 2), 1000, "", {}, Upgrade, false, false, "", Upgrade},
    {"new", v(1, 0), 1000, "mips", {}, Upgrade, false, false, "ERROR: can not install new-1.0: it is not made for i386, but for mips", Requirement},
    {"new", v(1, 0), 1000, "", {ref("lib"), ref("lib", v(2, 1)), ref("gone")}, Upgrade, false, false, "ERROR: can not install new-1.0: lib-2.1 is not installed, but is required", Requirement},
    {"clash", v(1, 0), 1000, "", {}, Upgrade, false, false, "ERROR: can not install clash-1.0: it conflicts with rival-3.0", Conflict},
    // One message per package: the first reason the flags do not tolerate.
    {"clash", v(1, 0), 1000, "mips", {ref("gone")}, Upgrade, false, false, "ERROR: can not install clash-1.0: it is not made for i386, but for mips", Requirement | Conflict},
    {"clash", v(1, 0), 1000, "mips", {ref("gone")}, Upgrade | Requirement, false, false, "ERROR: can not install clash-1.0: it conflicts with rival-3.0", Requirement | Conflict},
    // Device mode: said whatever the flags, unless something was said before or /ram/SECURE exists.
    {"system", v(8, 0), 1000, "", {}, Upgrade, false, false, "ERROR: will not install package system-8.0, not allowed by device-mode", Forbidden | Upgrade},
    {"system", v(8, 0), 1000, "", {}, 0xFFFFFFFF, false, false, "ERROR: will not install package system-8.0, not allowed by device-mode", Forbidden | Upgrade},
    {"system", v(8, 0), 1000, "", {}, Upgrade, false, true, "", Upgrade},
    {"system", v(6, 0), 1000, "", {}, Upgrade, false, false, "ERROR: omitting package system-6.0: min Kalmaris version is 7.2", Upgrade | Forbidden},
};
// clang-format on

TEST_F(Acceptance, ReasonsAndTheOneMessageSaid) {
  addRecord(state, "rival", v(3, 0)).conflicts = {ref("clash")};
  for (const char* other : {"tool", "lib", "branding", "firmware-rb", "system"}) addRecord(state, other, v(2, 0), 900);
  for (const auto& [name, version, buildTime, architecture, deps, flags, flagged, secure, said, mask] : cases) {
    SCOPED_TRACE(std::string(name) + "-" + formatVersion(version) + " flags " + std::to_string(flags));
    state.flagged = flagged;
    ASSERT_TRUE(secure ? root.addFile("/ram/SECURE", "") : root.removeTree("/ram/SECURE"));
    InstalledPackage package(name);
    package.version = version, package.buildTime = buildTime, package.architecture = architecture, package.deps = deps;
    EXPECT_EQ(checkAcceptance(state, package, flags), mask);
    EXPECT_EQ(output.take(), *said ? std::string(said) + "\n" : "");
  }
}

}  // namespace
}  // namespace installer
