// The system settings file.
#include "fuzz_input.h"
#include "platform/system_settings.h"

using namespace installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  if (!env.addFile(defaultSystemSettingsPath, textOf(data, size)).isOk()) return 0;
  std::string diagnostics;
  static_cast<void>(loadSystemSettings(env, defaultSystemSettingsPath, diagnostics));
  return 0;
}
