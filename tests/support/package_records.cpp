#include "support/package_records.h"

#include <memory>

DependencyRef ref(const std::string& name, PackageVersion min, PackageVersion max, int32_t priority) {
  DependencyRef result;
  result.name = name;
  result.min = min;
  result.max = max;
  result.priority = priority;
  return result;
}

InstalledPackage& addRecord(InstallerState& state, const std::string& name, PackageVersion version,
                            uint32_t buildTime) {
  auto record = std::make_unique<InstalledPackage>(name);
  record->version = version;
  record->buildTime = buildTime;
  state.packages.push_back(std::move(record));
  return *state.packages.back();
}

std::string pendingOf(const InstallerState& state) {
  std::string text;
  for (const auto& record : state.packages) {
    if (!text.empty()) text += ' ';
    text += record->name + ":" + pendingActionWord(record->pending);
  }
  return text;
}

std::string enabledOf(const InstallerState& state) {
  std::string text;
  for (const auto& record : state.packages) {
    if (!text.empty()) text += ' ';
    text += record->name + (record->disabled ? "-" : "+");
  }
  return text;
}
