// Choosing among candidates, and what becomes of a set of providers. (The
// walk that keeps providers, keepDependencies, is tested through the
// resolution in pending_actions_test.)
#include "pdb/package_selection.h"

#include <gtest/gtest.h>

#include "support/pdb_records.h"
#include "support/recorded_output.h"

namespace installer {
namespace {

TEST(SummarizeFate, AnyStayingProviderDecides) {
  // clang-format off
  const std::pair<const char*, int> cases[] = {
      {"p", FateStays}, {"p off enable", FateStays}, {"p enable", FateStays}, {"p off", FateDisabled},
      {"p disable", FateDisabled}, {"p off uninstall", FateDisabled}, {"p uninstall", FateRemoved}, {"", FateRemoved},
      {"a uninstall; b off", FateDisabled}, {"b off; a uninstall; c", FateStays}};
  // clang-format on
  for (const auto& [records, fate] : cases) {
    RecordedOutput output;
    InstallerState state(Env::posix(), output);
    addRecords(state, records);
    std::vector<InstalledPackage*> providers;
    for (const auto& record : state.packages) providers.push_back(record.get());
    EXPECT_EQ(summarizeFate(providers), fate) << records;
  }
}

// What is kept, by position among the candidates, and what is said. A
// floor other than NoFloor selects downgrade mode.
TEST(SelectPackages, KeepsTheBestOfEachNameInDependencyOrder) {
  const std::string newer = "WARNING: omitting package a-1.0: newer package is already provided\n";
  const std::string refused = "WARNING: ommitting package a-1.0: not allowed\n";
  struct Case {
    const char* candidates;
    uint32_t floor;
    bool verbose;
    const char* kept;
    std::string said;
  };
  const Case cases[] = {
      {"a; a v=1.1", NoFloor, true, "1", newer},
      {"a; a v=1.1; a v=1.2", v(1, 1), false, "1", refused},
      {"a; a v=1.1; a v=1.2", v(1, 1), true, "1",
       refused + "WARNING: omitting package a-1.2: older package is already provided\n"},
      {"a v=2.0; all v=2.0 bundle has=a", NoFloor, true, "1", ""},
      {"all v=2.0 bundle has=a; a v=2.0", NoFloor, true, "0", ""},
      {"a; all v=2.0 bundle has=a", NoFloor, true, "1", newer},
      {"a; a", NoFloor, true, "0", ""},
      {"x; y; z needs=x", NoFloor, false, "1 0 2", ""},
      {"y excludes=x; x", NoFloor, false, "0 1", ""},
  };
  for (const auto& [candidates, floor, verbose, kept, said] : cases) {
    RecordedOutput output;
    InstallerState state(Env::posix(), output);
    addRecords(state, candidates);
    std::vector<PackageInfo*> list;
    for (const auto& record : state.packages) list.push_back(record.get());
    for (size_t i = 0; i < list.size(); ++i) list[i]->note = std::to_string(i);  // tells equal copies apart
    selectPackages(state, list, floor, verbose);
    std::string positions = output.printed;
    for (const PackageInfo* record : list) positions += record->note + " ";
    EXPECT_EQ(positions, said + kept + " ") << candidates;
  }
}

}  // namespace
}  // namespace installer
