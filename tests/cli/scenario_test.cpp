// Runs every scenario in tests/cli/scenarios (see support/scenario.h).
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace installer {
namespace {

const std::string scenarioDir = std::string(SOURCE_DIR) + "/tests/cli/scenarios/";

std::vector<std::string> scenarioNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(scenarioDir, error)) {
    if (entry.path().extension() == ".txt") names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Scenario : public testing::TestWithParam<std::string> {};

TEST_P(Scenario, Runs) {
  for (const std::string& failure : runScenario(scenarioDir + GetParam())) ADD_FAILURE() << failure;
}

// Scenario file names are made of letters, digits and "_".
std::string testName(const testing::TestParamInfo<std::string>& info) {
  return info.param.substr(0, info.param.find('.'));
}

INSTANTIATE_TEST_SUITE_P(Files, Scenario, testing::ValuesIn(scenarioNames()), testName);

}  // namespace
}  // namespace installer
