// The install run over any stream, as standard-input mode runs it: headers,
// acceptance, inflate and extraction of the files into staged temporary
// files, database meta files, signature and end checks, bundles and their
// members. Everything goes to a ScratchEnv and is dropped afterwards.
#include <sstream>

#include "base/package_version.h"
#include "fuzz_input.h"
#include "install/stream_install.h"
#include "platform/system_library.h"
#include "rules/acceptance.h"

using namespace installer;

namespace {

// An older hello with its file, and the system the seeds depend on, so that
// a package replaces another and a dependency is met.
void addInstalled(InstallerState& state, ScratchEnv& env) {
  for (const char* name : {"hello", "system"}) {
    auto record = std::make_unique<InstalledPackage>(name);
    record->version = name[0] == 'h' ? makeVersion(0, 9, Final, 0) : makeVersion(7, 1, Final, 0);
    record->files.insert(std::string("/bin/") + name);
    static_cast<void>(env.addFile(std::string("/flash/bin/") + name, "old"));
    static_cast<void>(env.addFile(std::string("/flash/var/pdb/") + name + "/version", "1"));
    state.packages.push_back(std::move(record));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScratchEnv env(scratchCapacity);
  for (const char* directory : {"/flash/var/pdb", "/flash/boot", "/ram", "/rw", "/tmp"}) {
    static_cast<void>(env.addDirectories(directory));
  }
  openSystemLibrary(env, SystemSettings());
  {
    DroppedOutput output;
    InstallerState state(env, output);
    state.quiet = true;
    state.architecture = "i386";
    addInstalled(state, env);
    StagedFiles staged(env);
    std::istringstream input(textOf(data, size));
    std::stringbuf image;
    // Requirements are tolerated, so that a package whose dependencies are
    // not installed still reaches its files.
    StreamInstallRequest request;
    request.flags = Upgrade | Downgrade | Requirement;
    request.copySink = &image;
    static_cast<void>(installStream(state, staged, input, request));
  }
  // The library must not keep an Env that is gone.
  openSystemLibrary(Env::posix(), SystemSettings());
  return 0;
}
