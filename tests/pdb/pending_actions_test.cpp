#include "pdb/pending_actions.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/chroot_runner.h"
#include "support/package_records.h"
#include "support/temp_root.h"

namespace {

const std::string hide = "\x1b[?25l\r";
const std::string show = "\r\x1b[?25h";

// What a status line followed by an info message prints.
std::string statusThenInfo(const std::string& status, const std::string& message) {
  return hide + status + show + hide + std::string(status.size(), ' ') + show + message + "\n";
}

// One line per staged entry: "path kind", with the contents of a written file.
std::string describeStaged(const StagedFiles& staged) {
  std::string text;
  for (const auto& entry : staged.entries) {
    text += entry.first;
    switch (entry.second.kind) {
      case StagedKind::Delete:
        text += " delete\n";
        break;
      case StagedKind::Write: {
        std::ifstream file(entry.second.target, std::ios::binary);
        std::ostringstream contents;
        contents << file.rdbuf();
        text += " write " + contents.str();
        break;
      }
      default:
        text += " other\n";
    }
  }
  return text;
}

struct Outcome {
  bool result = false;
  std::string output;
};

Outcome apply(InstallerState& state, StagedFiles& staged, int verbosity) {
  Outcome outcome;
  outcome.output = captureOutput([&] { outcome.result = applyPendingActions(state, staged, verbosity); });
  return outcome;
}

InstalledPackage& addPending(InstallerState& state, const std::string& name, PendingAction pending,
                             bool disabled = false) {
  InstalledPackage& record = addRecord(state, name, v(1, 0));
  record.disabled = disabled;
  record.pending = pending;
  return record;
}

InstalledPackage& addDisabled(InstallerState& state, const std::string& name, PendingAction pending) {
  return addPending(state, name, pending, true);
}

// A device root holding a database directory for each named package, so
// that staged removals and state files have something to act on.
class DeviceRoot {
 public:
  explicit DeviceRoot(const std::vector<std::string>& names) {
    root.makeDirs("/tmp");
    root.makeDirs("/ram");
    for (const std::string& name : names) root.writeFile("/flash/var/pdb/" + name + "/image", "image");
  }
  // Runs `body` chrooted into the root on a fresh state, cancelling what it staged.
  void run(const std::function<void(InstallerState&, StagedFiles&)>& body) {
    runInChroot(root.path(), [&] {
      InstallerState state;
      StagedFiles staged;
      body(state, staged);
      cancelStaged(staged);
    });
  }
  void runBare(const std::function<void()>& body) { runInChroot(root.path(), body); }
  TempRoot root;
};

// Resolutions that stage nothing need no device root.

TEST(ApplyPendingActions, NothingPendingStagesNothing) {
  InstallerState state;
  StagedFiles staged;
  EXPECT_FALSE(apply(state, staged, 1).result);
  addRecord(state, "a", v(1, 0));
  addDisabled(state, "b", PendingAction::None);
  Outcome outcome = apply(state, staged, 2);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.output, "");
  EXPECT_TRUE(staged.empty());
  EXPECT_EQ(enabledOf(state), "a+ b-");
}

TEST(ApplyPendingActions, UninstallOfTheOnlyProviderIsCancelled) {
  InstallerState state;
  StagedFiles staged;
  addPending(state, "lib", PendingAction::Uninstall);
  addRecord(state, "app", v(2, 0)).deps = {ref("lib")};
  Outcome outcome = apply(state, staged, 1);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.output, "WARNING: can not uninstall lib-1.0: app depends on it\n");
  EXPECT_EQ(state.messages, std::vector<std::string>{"WARNING: can not uninstall lib-1.0: app depends on it"});
  EXPECT_EQ(pendingOf(state), "lib: app:");
  EXPECT_EQ(enabledOf(state), "lib+ app+");
  EXPECT_TRUE(staged.empty());
}

TEST(ApplyPendingActions, RemovingEverythingIsRefusedAndChangesNothing) {
  InstallerState state;
  StagedFiles staged;
  addPending(state, "a", PendingAction::Disable);
  addPending(state, "b", PendingAction::Uninstall);
  addDisabled(state, "c", PendingAction::None);
  Outcome outcome = apply(state, staged, 1);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.output, "ERROR: can not uninstall or disable all packages\n");
  EXPECT_EQ(pendingOf(state), "a: b: c:");
  EXPECT_EQ(enabledOf(state), "a+ b+ c-");
  EXPECT_TRUE(staged.empty());

  state.packages[0]->pending = PendingAction::Disable;
  state.packages[1]->pending = PendingAction::Disable;
  outcome = apply(state, staged, 0);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(pendingOf(state), "a: b: c:");
  EXPECT_EQ(state.messages.size(), 1u);
}

TEST(ApplyPendingActions, UninstalledRecordsAreRemovedLastFirst) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"a", "b", "keep"});
  device.root.writeFile("/flash/bin/a", "a");
  device.run([](InstallerState& state, StagedFiles& staged) {
    addPending(state, "a", PendingAction::Uninstall).files = {"/bin/a"};
    addRecord(state, "keep", v(1, 0));
    addPending(state, "b", PendingAction::Uninstall);
    Outcome outcome = apply(state, staged, 2);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.output, statusThenInfo("uninstalling b-1.0...", "uninstalled b-1.0") +
                                  statusThenInfo("uninstalling a-1.0...", "uninstalled a-1.0"));
    EXPECT_EQ(state.messages, (std::vector<std::string>{"uninstalled b-1.0", "uninstalled a-1.0"}));
    EXPECT_EQ(pendingOf(state), "keep:");
    EXPECT_EQ(describeStaged(staged),
              "/flash/bin/a delete\n"
              "/flash/var/pdb/a/ delete\n"
              "/flash/var/pdb/a/image delete\n"
              "/flash/var/pdb/b/ delete\n"
              "/flash/var/pdb/b/image delete\n");
  });
}

TEST(ApplyPendingActions, DependencyWithoutProviderIsUninstalledSilently) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"app", "keep"});
  device.run([](InstallerState& state, StagedFiles& staged) {
    addRecord(state, "app", v(1, 0)).deps = {ref("gone")};
    addRecord(state, "keep", v(1, 0));
    Outcome outcome = apply(state, staged, 1);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.output, "");
    EXPECT_TRUE(state.messages.empty());
    EXPECT_EQ(pendingOf(state), "keep:");
    EXPECT_EQ(describeStaged(staged), "/flash/var/pdb/app/ delete\n/flash/var/pdb/app/image delete\n");
  });
}

TEST(ApplyPendingActions, UnmetDependenciesSpreadToAFixedPoint) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"top", "mid", "low", "keep"});
  device.run([](InstallerState& state, StagedFiles& staged) {
    // top needs mid, mid needs low (disabled), low needs what is not there.
    addRecord(state, "top", v(1, 0)).deps = {ref("mid")};
    addRecord(state, "mid", v(1, 0)).deps = {ref("low")};
    addDisabled(state, "low", PendingAction::None).deps = {ref("gone")};
    addRecord(state, "keep", v(1, 0));
    Outcome outcome = apply(state, staged, 1);
    EXPECT_TRUE(outcome.result);
    // low goes; mid and top lose their provider to a disabled-then-removed
    // record and are disabled, carried out from the last record back.
    EXPECT_EQ(outcome.output, statusThenInfo("disabling mid-1.0...", "disabled mid-1.0") +
                                  statusThenInfo("disabling top-1.0...", "disabled top-1.0"));
    EXPECT_EQ(enabledOf(state), "top- mid- keep+");
    EXPECT_EQ(pendingOf(state), "top: mid: keep:");
    EXPECT_EQ(describeStaged(staged),
              "/flash/var/pdb/low/ delete\n"
              "/flash/var/pdb/low/image delete\n"
              "/flash/var/pdb/mid/disabled write auto\n"
              "/flash/var/pdb/top/disabled write auto\n");
  });
}

// Conflicts: a package being enabled wins over an enabled one, whichever of
// the two excludes the other and in either list order.
TEST(ApplyPendingActions, PackageBeingEnabledWinsAConflict) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"new", "old", "keep"});
  device.runBare([] {
    for (int order = 0; order < 2; ++order) {
      for (int excluder = 0; excluder < 2; ++excluder) {
        InstallerState state;
        StagedFiles staged;
        addRecord(state, "keep", v(1, 0));
        InstalledPackage& fresh = addDisabled(state, "new", PendingAction::Enable);
        fresh.byUser = true;
        InstalledPackage& old = addRecord(state, "old", v(1, 0));
        if (order == 1) std::swap(state.packages[1], state.packages[2]);
        if (excluder == 0) fresh.conflicts = {ref("old")};
        if (excluder == 1) old.conflicts = {ref("new")};
        Outcome outcome = apply(state, staged, 1);
        EXPECT_TRUE(outcome.result);
        EXPECT_EQ(outcome.output, statusThenInfo("disabling old-1.0...", "disabled old-1.0") +
                                      statusThenInfo("enabling new-1.0...", "enabled new-1.0"))
            << "order " << order << " excluder " << excluder;
        EXPECT_EQ(describeStaged(staged),
                  "/flash/var/pdb/new/enabled write user\n"
                  "/flash/var/pdb/old/disabled write auto\n");
        EXPECT_FALSE(fresh.disabled);
        EXPECT_TRUE(old.disabled);
        cancelStaged(staged);
      }
    }
  });
}

TEST(ApplyPendingActions, OfTwoBeingEnabledTheExcludedOneGivesWay) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"first", "second"});
  device.root.writeFile("/flash/var/pdb/first/disabled", "auto\n");
  device.root.writeFile("/flash/var/pdb/second/disabled", "auto\n");
  device.runBare([] {
    for (int order = 0; order < 2; ++order) {
      InstallerState state;
      StagedFiles staged;
      addDisabled(state, "first", PendingAction::Enable);
      addDisabled(state, "second", PendingAction::Enable).conflicts = {ref("first")};
      if (order == 1) std::swap(state.packages[0], state.packages[1]);
      Outcome outcome = apply(state, staged, 1);
      EXPECT_TRUE(outcome.result);
      EXPECT_EQ(outcome.output, "WARNING: can not enable first: second-1.0 conflicts with it\n" +
                                    statusThenInfo("enabling second-1.0...", "enabled second-1.0"))
          << "order " << order;
      EXPECT_EQ(describeStaged(staged), "/flash/var/pdb/second/disabled delete\n");
      EXPECT_EQ(pendingOf(state), order == 0 ? "first: second:" : "second: first:");
      EXPECT_EQ(enabledOf(state), order == 0 ? "first- second+" : "second+ first-");
      cancelStaged(staged);
    }
  });
}

TEST(ApplyPendingActions, DisablingABundleDisablesItsSubPackages) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"one", "two", "all", "keep"});
  device.run([](InstallerState& state, StagedFiles& staged) {
    addRecord(state, "one", v(1, 0)).bundle = ref("all", v(1, 0), v(1, 0));
    addPending(state, "two", PendingAction::Uninstall).bundle = ref("all", v(1, 0), v(1, 0));
    InstalledPackage& bundle = addPending(state, "all", PendingAction::Disable);
    bundle.isBundle = true;
    bundle.byUser = true;
    addRecord(state, "keep", v(1, 0));
    Outcome outcome = apply(state, staged, 1);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.output, statusThenInfo("disabling all-1.0...", "disabled all-1.0") +
                                  statusThenInfo("disabling one-1.0...", "disabled one-1.0"));
    EXPECT_EQ(enabledOf(state), "one- all- keep+");
    EXPECT_EQ(describeStaged(staged),
              "/flash/var/pdb/all/disabled write user\n"
              "/flash/var/pdb/one/disabled write auto\n"
              "/flash/var/pdb/two/ delete\n"
              "/flash/var/pdb/two/image delete\n");
  });
}

// Resolutions judged by the messages they leave (verbosity 2) and the
// enabled state of what remains.
TEST(ApplyPendingActions, ResolutionsByOutcome) {
  SKIP_UNLESS_ROOT();
  using Build = void (*)(InstallerState&);
  struct Case {
    const char* what;
    Build build;
    std::vector<std::string> messages;
    const char* enabled;
  };
  const Case cases[] = {
      {"unmet dependency chain is uninstalled from any list position",
       [](InstallerState& s) {
         addRecord(s, "top", v(1, 0)).deps = {ref("mid")};
         addRecord(s, "mid", v(1, 0)).deps = {ref("gone")};
         addRecord(s, "keep", v(1, 0));
       },
       {"uninstalled mid-1.0", "uninstalled top-1.0"}, "keep+"},
      {"enables follow what they need",
       [](InstallerState& s) {
         addDisabled(s, "app", PendingAction::Enable).deps = {ref("lib")};
         addDisabled(s, "lib", PendingAction::None);
       },
       {"enabled lib-1.0", "enabled app-1.0"}, "app+ lib+"},
      {"uninstalling a bundle uninstalls all of it",
       [](InstallerState& s) {
         addRecord(s, "one", v(1, 0)).bundle = ref("all");
         addDisabled(s, "two", PendingAction::None).bundle = ref("all");
         addPending(s, "all", PendingAction::Uninstall).isBundle = true;
         addRecord(s, "keep", v(1, 0));
       },
       {"uninstalled all-1.0", "uninstalled two-1.0", "uninstalled one-1.0"}, "keep+"},
      {"enabling a bundle enables its disabled sub-packages",
       [](InstallerState& s) {
         addDisabled(s, "one", PendingAction::None).bundle = ref("all");
         addDisabled(s, "two", PendingAction::None).bundle = ref("all");
         addDisabled(s, "all", PendingAction::Enable).isBundle = true;
       },
       {"enabled all-1.0", "enabled two-1.0", "enabled one-1.0"}, "one+ two+ all+"},
      {"enabled bundle with only disabled sub-packages is disabled, one with none uninstalled",
       [](InstallerState& s) {
         addPending(s, "one", PendingAction::Disable).bundle = ref("all");
         addDisabled(s, "two", PendingAction::None).bundle = ref("all");
         addRecord(s, "all", v(1, 0)).isBundle = true;
         addRecord(s, "empty", v(1, 0)).isBundle = true;
         addRecord(s, "keep", v(1, 0));
       },
       {"uninstalled empty-1.0", "disabled all-1.0", "disabled one-1.0"}, "one- two- all- keep+"},
      {"bundle with an active sub-package stays",
       [](InstallerState& s) {
         addPending(s, "one", PendingAction::Uninstall).bundle = ref("all");
         addRecord(s, "two", v(1, 0)).bundle = ref("all");
         addRecord(s, "all", v(1, 0)).isBundle = true;
       },
       {"uninstalled one-1.0"}, "two+ all+"},
      {"second copy of a package being enabled is left pending nothing",
       [](InstallerState& s) {
         addDisabled(s, "a", PendingAction::Enable);
         addDisabled(s, "a", PendingAction::Enable);
       },
       {"enabled a-1.0"}, "a+ a-"},
      {"of two enabled packages the excluding one wins",
       [](InstallerState& s) {
         addRecord(s, "a", v(1, 0));
         addRecord(s, "b", v(1, 0)).conflicts = {ref("a")};
       },
       {"disabled a-1.0"}, "a- b+"},
      {"of two enabled packages excluding each other the earlier wins",
       [](InstallerState& s) {
         addRecord(s, "a", v(1, 0)).conflicts = {ref("b")};
         addRecord(s, "b", v(1, 0)).conflicts = {ref("a")};
       },
       {"disabled b-1.0"}, "a+ b-"},
      {"two being enabled excluding each other are both enabled",
       [](InstallerState& s) {
         addDisabled(s, "a", PendingAction::Enable).conflicts = {ref("b")};
         addDisabled(s, "b", PendingAction::Enable).conflicts = {ref("a")};
       },
       {"enabled a-1.0", "enabled b-1.0"}, "a+ b+"},
  };
  DeviceRoot device({"top", "mid", "keep", "app", "lib", "one", "two", "all", "empty", "a", "b"});
  device.runBare([&] {
    for (const Case& c : cases) {
      InstallerState state;
      StagedFiles staged;
      c.build(state);
      EXPECT_TRUE(apply(state, staged, 2).result) << c.what;
      EXPECT_EQ(state.messages, c.messages) << c.what;
      EXPECT_EQ(enabledOf(state), c.enabled) << c.what;
      for (const auto& record : state.packages) EXPECT_EQ(record->pending, PendingAction::None) << c.what;
      cancelStaged(staged);
    }
  });
}

// A schedule may ask to enable a package that is enabled already: it stays,
// for its dependents and for its bundle alike.
TEST(ApplyPendingActions, EnabledPackageWithPendingEnableStays) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"lib", "app", "all"});
  device.run([](InstallerState& state, StagedFiles& staged) {
    InstalledPackage& lib = addPending(state, "lib", PendingAction::Enable);
    lib.bundle = ref("all");
    lib.byUser = true;
    addRecord(state, "app", v(1, 0)).deps = {ref("lib")};
    addRecord(state, "all", v(1, 0)).isBundle = true;
    Outcome outcome = apply(state, staged, 1);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(state.messages, std::vector<std::string>{"enabled lib-1.0"});
    EXPECT_EQ(enabledOf(state), "lib+ app+ all+");
    EXPECT_EQ(pendingOf(state), "lib: app: all:");
    EXPECT_EQ(describeStaged(staged), "/flash/var/pdb/lib/enabled write user\n");
  });
}

TEST(ApplyPendingActions, OutputByVerbosity) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"u", "d", "e", "keep"});
  device.root.writeFile("/flash/var/pdb/d/enabled", "user\n");
  device.root.writeFile("/flash/var/pdb/e/disabled", "auto\n");
  device.runBare([] {
    const std::string disabling = statusThenInfo("disabling d-1.0...", "disabled d-1.0");
    const std::string uninstalling = statusThenInfo("uninstalling u-1.0...", "uninstalled u-1.0");
    const std::string enabling = statusThenInfo("enabling e-1.0...", "enabled e-1.0");
    const std::string expected[] = {"", disabling + enabling, disabling + uninstalling + enabling};
    for (int verbosity = 0; verbosity <= 2; ++verbosity) {
      InstallerState state;
      StagedFiles staged;
      addPending(state, "u", PendingAction::Uninstall);
      addPending(state, "d", PendingAction::Disable);
      addDisabled(state, "e", PendingAction::Enable);
      addRecord(state, "keep", v(1, 0));
      Outcome outcome = apply(state, staged, verbosity);
      EXPECT_TRUE(outcome.result);
      EXPECT_EQ(outcome.output, expected[verbosity]) << "verbosity " << verbosity;
      EXPECT_EQ(pendingOf(state), "d: e: keep:");
      EXPECT_EQ(enabledOf(state), "d- e+ keep+");
      EXPECT_EQ(describeStaged(staged),
                "/flash/var/pdb/d/disabled write auto\n"
                "/flash/var/pdb/d/enabled delete\n"
                "/flash/var/pdb/e/disabled delete\n"
                "/flash/var/pdb/u/ delete\n"
                "/flash/var/pdb/u/image delete\n");
      cancelStaged(staged);
    }
  });
}

TEST(EnablePackages, EnablesInListOrder) {
  SKIP_UNLESS_ROOT();
  DeviceRoot device({"a", "b"});
  device.root.writeFile("/flash/var/pdb/a/disabled", "user\n");
  device.runBare([] {
    InstallerState state;
    StagedFiles staged;
    InstalledPackage& a = addDisabled(state, "a", PendingAction::None);
    a.byUser = true;
    InstalledPackage& b = addDisabled(state, "b", PendingAction::Enable);
    std::string output = captureOutput([&] { enablePackages(state, staged, {&b, &a}, 1); });
    EXPECT_EQ(output, statusThenInfo("enabling b-1.0...", "enabled b-1.0") +
                          statusThenInfo("enabling a-1.0...", "enabled a-1.0"));
    EXPECT_EQ(enabledOf(state), "a+ b+");
    EXPECT_EQ(pendingOf(state), "a: b:");
    EXPECT_EQ(describeStaged(staged),
              "/flash/var/pdb/a/disabled delete\n"
              "/flash/var/pdb/a/enabled write user\n");
    cancelStaged(staged);
    EXPECT_EQ(captureOutput([&] { enablePackages(state, staged, {&a}, 0); }), "");
  });
}

}  // namespace
