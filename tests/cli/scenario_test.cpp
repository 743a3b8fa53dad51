// Runs every scenario in tests/cli/scenarios (see support/scenario.h).
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/scenario.h"

namespace installer {
namespace {

const std::string scenarioDir = std::string(SOURCE_DIR) + "/tests/cli/scenarios/";

std::vector<std::string> scenarioNames() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(scenarioDir.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Scenario : public testing::TestWithParam<std::string> {};

TEST_P(Scenario, Runs) {
  for (const std::string& failure : runScenario(scenarioDir + GetParam())) ADD_FAILURE() << failure;
}

std::string testName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(0, info.param.size() - 4);
  for (char& c : name) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, Scenario, testing::ValuesIn(scenarioNames()), testName);

TEST(RenderTerminal, AppliesCarriageReturnsBackspacesAndEscapes) {
  EXPECT_EQ(renderTerminal("abc\rX\n\x1b[?25lyy\b\bz\x1b[?25h\n   \n"), "Xbc\nzy\n");
}

}  // namespace
}  // namespace installer
