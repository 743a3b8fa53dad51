// Schedule files under "/ram/pdb/" and how they set pending actions.
#include "pdb/schedule.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <tuple>

#include "pdb/database_writer.h"
#include "pdb/package_state.h"
#include "support/chroot_runner.h"
#include "support/temp_root.h"

namespace {

const std::string pdb = "/flash/var/pdb/";

TEST(ScheduleName, KeepsOnlyLettersDigitsAndDash) {
  const std::pair<const char*, const char*> cases[] = {
      {"routing", "routing"},
      {"wifi-qcom.ac", "wifi-qcomac"},
      {"a_b-C9", "ab-C9"},
      {"..", ""},
      {"x/../y", "xy"},
      {"caf\xc3\xa9", "caf"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(scheduleName(c.first), c.second) << c.first;
}

struct Scheduled {
  PendingAction pending;
  bool byUser;
};

// Reads the schedule `text` (null: no file) of a package called `name` that
// starts with the given pending action and byUser.
Scheduled schedule(const std::string& name, const char* text, PendingAction pending, bool byUser) {
  TempRoot root;
  if (text != nullptr) root.writeFile("/ram/pdb/" + scheduleName(name) + "/schedule", text);
  Scheduled result{PendingAction::None, false};
  // The result travels back through a file: the body runs in a child.
  runInChroot(root.path(), [&] {
    InstalledPackage package(name);
    package.pending = pending;
    package.byUser = byUser;
    readSchedule(package);
    std::ofstream("/result") << static_cast<unsigned>(package.pending) << ' ' << package.byUser;
  });
  std::istringstream in(root.readFile("/result"));
  unsigned action = 9;
  in >> action >> result.byUser;
  result.pending = static_cast<PendingAction>(action);
  return result;
}

TEST(Schedule, Words) {
  SKIP_UNLESS_ROOT();
  struct Case {
    const char* text;
    PendingAction startPending;
    bool startByUser;
    PendingAction pending;
    bool byUser;
  };
  const Case cases[] = {
      {"disable\n", PendingAction::None, false, PendingAction::Disable, true},
      {"  enable  \n", PendingAction::Uninstall, false, PendingAction::Enable, true},
      {"uninstall", PendingAction::None, true, PendingAction::Uninstall, true},
      {"uninstall\n", PendingAction::Enable, false, PendingAction::Uninstall, false},
      {"Disable\n", PendingAction::None, false, PendingAction::None, false},
      {"remove\n", PendingAction::Enable, false, PendingAction::Enable, false},
      {"disabled\n", PendingAction::None, false, PendingAction::None, false},
      {"", PendingAction::Uninstall, false, PendingAction::Uninstall, false},
      {"\n \n", PendingAction::None, true, PendingAction::None, true},
      {nullptr, PendingAction::Disable, false, PendingAction::Disable, false},
  };
  for (const Case& c : cases) {
    Scheduled result = schedule("routing", c.text, c.startPending, c.startByUser);
    std::string label = c.text != nullptr ? c.text : "(no file)";
    EXPECT_EQ(result.pending, c.pending) << label;
    EXPECT_EQ(result.byUser, c.byUser) << label;
  }
}

TEST(Schedule, NameWithDotIsScheduledWithoutIt) {
  SKIP_UNLESS_ROOT();
  EXPECT_EQ(schedule("wifi.ac", "disable\n", PendingAction::None, false).pending, PendingAction::Disable);
  TempRoot root;
  root.writeFile("/ram/pdb/wifi.ac/schedule", "disable\n");
  runInChroot(root.path(), [] {
    InstalledPackage package("wifi.ac");
    readSchedule(package);
    EXPECT_EQ(package.pending, PendingAction::None) << "the directory with the dot is not read";
  });
}

// Through the loader's state reading: the schedule comes last and overrides
// what the meta and state files gave.
TEST(Schedule, OverridesWhatLoadingSet) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs(pdb + "broken");  // no "version": pending Uninstall
  root.writeFile("/ram/pdb/broken/schedule", "enable\n");
  root.writeFile(pdb + "kept/version", "1 1\n");
  root.writeFile(pdb + "kept/enabled", "user\n");
  root.writeFile("/ram/pdb/kept/schedule", "uninstall\n");
  root.writeFile(pdb + "off/version", "1 1\n");
  root.writeFile(pdb + "off/disabled", "auto\n");
  root.writeFile("/ram/pdb/off/schedule", "uninstall\n");
  root.writeFile(pdb + "ghost/version", "4294967295 4294967295\n");
  root.writeFile("/ram/pdb/ghost/schedule", "uninstall\n");
  runInChroot(root.path(), [] {
    const std::tuple<const char*, PendingAction, bool> cases[] = {
        {"broken", PendingAction::Enable, true},
        {"kept", PendingAction::Uninstall, true},
        {"off", PendingAction::Uninstall, false},
        {"ghost", PendingAction::None, false},  // a placeholder reads no schedule
    };
    for (const auto& c : cases) {
      InstalledPackage package(std::get<0>(c));
      readPackageState(package);
      EXPECT_EQ(package.pending, std::get<1>(c)) << std::get<0>(c);
      EXPECT_EQ(package.byUser, std::get<2>(c)) << std::get<0>(c);
    }
  });
}

TEST(Schedule, ScheduledDisableIsWrittenAsTheUsersChoice) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "routing/version", "1 1\n");
  root.writeFile(pdb + "routing/enabled", "");
  root.writeFile("/ram/pdb/routing/schedule", "disable\n");
  runInChroot(root.path(), [] {
    InstalledPackage package("routing");
    readPackageState(package);
    EXPECT_EQ(package.pending, PendingAction::Disable);
    StagedFiles staged;
    EXPECT_TRUE(writeDisabledState(package, staged));
    const StagedOp* disabled = staged.find(pdb + "routing/disabled");
    ASSERT_NE(disabled, nullptr);
    std::ifstream in(disabled->target);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "user\n");
    const StagedOp* enabled = staged.find(pdb + "routing/enabled");
    ASSERT_NE(enabled, nullptr);
    EXPECT_EQ(enabled->kind, StagedKind::Delete);
    cancelStaged(staged);
  });
}

}  // namespace
