// Resolving and carrying out pending uninstall, enable and disable actions,
// with the walk (keepDependencies) that keeps what active packages need.
#include "pdb/pending_actions.h"

#include <gtest/gtest.h>

#include "support/pdb_records.h"
#include "support/recorded_output.h"
#include "support/router_device.h"

namespace installer {
namespace {

// Whether anything changed; the messages at Verbose; the records left
// and whether enabled. "k" stays, so that not everything goes; "B" is a
// bundle with sub-packages "m" and "n".
TEST(ApplyPendingActions, Resolutions) {
  struct Case {
    const char* records;
    bool changed;
    const char* expected;
  };
  const Case cases[] = {
      {"", false, "=> "},
      {"a; b off", false, "=> a+ b-"},
      {"a disable; b uninstall; c off", false, "ERROR: can not uninstall or disable all packages | => a+ b+ c-"},
      {"a uninstall; k; b uninstall", true, "uninstalled b-1.0 | uninstalled a-1.0 | => k+"},
      // The providers of an active package stay or are enabled; what loses
      // its provider goes, or is disabled with it.
      {"l uninstall; a needs=l", false, "WARNING: can not uninstall l-1.0: a depends on it | => l+ a+"},
      {"l uninstall; l v=1.1; a needs=l", true, "uninstalled l-1.0 | => l+ a+"},
      {"b disable; l off needs=b; a needs=l", true,
       "WARNING: can not disable b-1.0: l depends on it | enabled l-1.0 | => b+ l+ a+"},
      {"l uninstall; a needs=gone needs=l; k", true, "uninstalled a-1.0 | uninstalled l-1.0 | => k+"},
      {"t needs=s; s needs=l; l off needs=gone; k", true,
       "uninstalled l-1.0 | disabled s-1.0 | disabled t-1.0 | => t- s- k+"},
      {"a off enable needs=l; l off", true, "enabled l-1.0 | enabled a-1.0 | => a+ l+"},
      {"l off; l v=1.1 off; a needs=l", true, "enabled l-1.1 | => l- l+ a+"},
      {"a off enable; a v=1.1 off enable", true, "enabled a-1.1 | => a- a+"},
      // One being enabled wins over an idle one, whichever excludes the
      // other; of two being enabled, the excluded one gives way.
      {"a; b excludes=a", true, "disabled a-1.0 | => a- b+"},
      {"k; a excludes=b; b off enable", true, "disabled a-1.0 | enabled b-1.0 | => k+ a- b+"},
      {"a off enable; b off enable excludes=a", true,
       "WARNING: can not enable a: b-1.0 conflicts with it | enabled b-1.0 | => a- b+"},
      // Bundles pass their action on; one left without active sub-packages
      // is disabled, or goes when none is even disabled.
      {"m in=B; n uninstall in=B; B bundle disable; k", true,
       "disabled B-1.0 | uninstalled n-1.0 | disabled m-1.0 | => m- B- k+"},
      {"m in=B; n off in=B; B uninstall bundle; k", true,
       "uninstalled B-1.0 | uninstalled n-1.0 | uninstalled m-1.0 | => k+"},
      {"m off in=B; n off in=B; B off enable bundle", true,
       "enabled B-1.0 | enabled n-1.0 | enabled m-1.0 | => m+ n+ B+"},
      {"B bundle off; m in=B", true, "enabled B-1.0 | => B+ m+"},
      {"m uninstall in=B; n in=B; B bundle", true, "uninstalled m-1.0 | => n+ B+"},
      {"m disable in=B; n off in=B; B bundle; E bundle; k", true,
       "uninstalled E-1.0 | disabled B-1.0 | disabled m-1.0 | => m- n- B- k+"},
  };
  for (const auto& [records, changed, expected] : cases) {
    auto device = routerDevice(4096, 1 << 20);
    RecordedOutput output;
    InstallerState state(*device, output);
    StagedFiles staged(*device);
    addRecords(state, records);
    EXPECT_EQ(applyPendingActions(state, staged, Verbosity::Verbose), changed) << records;
    std::string outcome;
    for (const std::string& message : state.messages) outcome += message + " | ";
    EXPECT_EQ(outcome + "=> " + enabledOf(state), expected) << records;
    for (const auto& record : state.packages) EXPECT_EQ(record->pending, PendingAction::None) << records;
  }
}

// What each verbosity shows, status lines included. What is staged does
// not depend on it: removals from the last record back, then the enables.
TEST(ApplyPendingActions, OutputByVerbosity) {
  auto shown = [](const std::string& status, const std::string& message) {
    return "\x1b[?25l\r" + status + "\r\x1b[?25h\x1b[?25l\r" + std::string(status.size(), ' ') + "\r\x1b[?25h" +
           message + "\n";
  };
  const std::string normal =
      "WARNING: can not uninstall l-1.0: a depends on it\n" + shown("disabling d-1.0...", "disabled d-1.0");
  const std::string enabled = shown("enabling e-1.0...", "enabled e-1.0");
  const std::pair<Verbosity, std::string> cases[] = {
      {Verbosity::Silent, ""},
      {Verbosity::Normal, normal + enabled},
      {Verbosity::Verbose, normal + shown("uninstalling u-1.0...", "uninstalled u-1.0") + enabled},
  };
  for (const auto& [verbosity, shownText] : cases) {
    auto device = routerDevice(4096, 1 << 20);
    writeFiles(*device, "/flash/var/pdb/", "u/image=;/flash/bin/u=;d/enabled=user|;e/disabled=auto|");
    RecordedOutput output;
    InstallerState state(*device, output);
    StagedFiles staged(*device);
    addRecords(state, "u uninstall file=/bin/u; d disable; e off enable user; l uninstall; a needs=l");
    EXPECT_TRUE(applyPendingActions(state, staged, verbosity));
    EXPECT_EQ(output.printed, shownText);
    EXPECT_EQ(stagedOf(*device, staged),
              "-/flash/bin/u d/disabled=auto| -d/enabled -e/disabled e/enabled=user| -u/ -u/image");
  }
}

}  // namespace
}  // namespace installer
