// Schedule files under "/ram/pdb/" and the pending actions they set, read
// last while the database loads.
#include "pdb/schedule.h"

#include <gtest/gtest.h>

#include "support/pdb_records.h"

namespace installer {
namespace {

TEST(ScheduleName, KeepsOnlyLettersDigitsAndDash) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"routing", "routing"}, {"wifi-qcom.ac", "wifi-qcomac"}, {"a_b-C9", "ab-C9"}, {"..", ""},
      {"x/../y", "xy"}, {"caf\xc3\xa9", "caf"}, {"", ""}, {"`az{@AZ[/09:", "azAZ09"}};
  // clang-format on
  for (const auto& [name, kept] : cases) EXPECT_EQ(scheduleName(name), kept) << name;
}

// Package "a.b", scheduled in "/ram/pdb/ab/"; a bad "deps" file or a
// "disabled" file give it a state before its schedule is read. Other words
// change nothing, and a placeholder reads no schedule.
TEST(Schedule, Words) {
  const std::pair<const char*, const char*> cases[] = {
      {"/ram/pdb/ab/schedule=disable|", "a.b 1 2 user disable"},
      {"a.b/deps=x;/ram/pdb/ab/schedule=  enable  |", "a.b 1 2 user enable"},
      {"a.b/disabled=auto|;/ram/pdb/ab/schedule=uninstall", "a.b 1 2 off uninstall"},
      {"a.b/deps=x;/ram/pdb/ab/schedule=Disable|", "a.b 1 2 uninstall"},
      {"/ram/pdb/a.b/schedule=disable|", "a.b 1 2"},
      {"a.b/version=4294967295 4294967295;/ram/pdb/ab/schedule=disable", "a.b 4294967295 4294967295"},
  };
  for (const auto& [files, expected] : cases) {
    EXPECT_EQ(loadedFrom(std::string("a.b/version=1 2;a.b/files=;") + files), expected + std::string("\n")) << files;
  }
}

}  // namespace
}  // namespace installer
