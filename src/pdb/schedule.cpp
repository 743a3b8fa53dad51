#include "pdb/schedule.h"

#include "platform/device_paths.h"
#include "platform/input_file.h"

namespace installer {

namespace {

bool isScheduleNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

std::string scheduleName(const std::string& name) {
  std::string kept;
  for (char c : name) {
    if (isScheduleNameByte(c)) kept += c;
  }
  return kept;
}

void readSchedule(Env& env, InstalledPackage& package) {
  // One word, written by other parts of the system: a link, a FIFO or a
  // device there is no schedule, and 4 KiB is more than any word.
  InputFile in(env, paths::scheduleDir + scheduleName(package.name) + "/schedule", ReadLimits{false, true, 4096});
  std::string word;
  if (!(in >> word)) return;
  if (word == "uninstall") {
    package.pending = PendingAction::Uninstall;
  } else if (word == "enable") {
    package.pending = PendingAction::Enable;
    package.byUser = true;
  } else if (word == "disable") {
    package.pending = PendingAction::Disable;
    package.byUser = true;
  }
}

}  // namespace installer
