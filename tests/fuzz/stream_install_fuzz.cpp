// The install run over any stream, as standard-input mode runs it: headers,
// acceptance, inflate and extraction of the files into staged temporary
// files, database meta files, signature and end checks, bundles and their
// members. Everything goes to a ScratchEnv and is dropped afterwards.
#include <sstream>

#include "fuzz_input.h"
#include "install/stream_install.h"
#include "platform/system_library.h"
#include "rules/acceptance.h"

using namespace installer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  for (const char* directory : {"/flash/var/pdb", "/flash/boot", "/ram", "/rw", "/tmp"}) {
    static_cast<void>(env.addDirectories(directory));
  }
  openSystemLibrary(env, SystemSettings());
  {
    InstallerState state(env);
    state.quiet = true;
    state.architecture = "i386";
    StagedFiles staged(env);
    std::istringstream input(textOf(data, size));
    std::stringbuf image;
    // Requirements are tolerated, so that a package whose dependencies are
    // not installed still reaches its files.
    StreamInstallRequest request{Upgrade | Downgrade | Requirement, {}, &image};
    static_cast<void>(installStream(state, staged, input, request));
  }
  // The library must not keep an Env that is gone.
  openSystemLibrary(Env::posix(), SystemSettings());
  return 0;
}
