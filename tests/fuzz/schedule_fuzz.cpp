// A schedule file: the first line is the package's name, the rest the
// contents of its schedule file.
#include "fuzz_input.h"
#include "pdb/schedule.h"
#include "platform/device_paths.h"

using namespace installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input = textOf(data, size);
  size_t newline = input.find('\n');
  if (newline == std::string::npos) return 0;
  ScratchEnv env(scratchCapacity);
  InstalledPackage package(input.substr(0, newline));
  static_cast<void>(
      env.addFile(paths::scheduleDir + scheduleName(package.name) + "/schedule", input.substr(newline + 1)));
  readSchedule(env, package);
  return 0;
}
