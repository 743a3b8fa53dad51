// The manifest reader over any file; what it reads must come back unchanged
// when written out and read again.
#include <cstdlib>

#include "fuzz_input.h"
#include "platform/device_paths.h"
#include "staging/manifest.h"

using namespace installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  if (!env.addFile(paths::manifest, textOf(data, size)).isOk()) return 0;
  StagedFiles read(env);
  if (!readManifest(read, paths::manifest).isOk()) return 0;
  StagedFiles again(env);
  if (!env.addFile("/ram/again", manifestText(read.entries)).isOk() || !readManifest(again, "/ram/again").isOk())
    std::abort();
  if (manifestText(again.entries) != manifestText(read.entries)) std::abort();
  return 0;
}
