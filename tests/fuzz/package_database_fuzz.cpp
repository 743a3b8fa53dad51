// Loading the package database from any files: images, meta files ("version",
// "deps", "provides", "conflicts", "bundle", "files"), state files and
// schedules. The input holds the files (see fuzz_input.h).
#include "fuzz_input.h"
#include "pdb/database_loader.h"

using namespace installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  static_cast<void>(env.addDirectories("/flash/var/pdb"));
  addFiles(env, textOf(data, size));
  DroppedOutput output;
  InstallerState state(env, output);
  loadDatabase(state, true, "i386");
  return 0;
}
