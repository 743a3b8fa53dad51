#include "install_dry_run.h"

#include "install/stream_install.h"
#include "model/installer_state.h"
#include "platform/input_file.h"
#include "platform/scratch_env.h"
#include "rules/acceptance.h"
#include "staging/staged_files.h"

namespace installer {

namespace {

constexpr uint32_t everyTolerableReason = Upgrade | Downgrade | Requirement | Conflict | Reinstall;

// The meta files and records the run writes are small; the package's own
// files could be as large as the package, so their bytes are counted, not
// kept.
constexpr uint64_t scratchCapacity = 64 * 1024 * 1024;

class DiscardedFile : public WritableFile {
 public:
  bool append(const char*, size_t) override { return true; }
  bool sync() override { return true; }
  bool close() override { return true; }
};

class ScratchDevice : public ScratchEnv {
 public:
  ScratchDevice() : ScratchEnv(scratchCapacity) {
    for (const char* dir : {"/flash/var/pdb", "/ram", "/rw", "/tmp"}) static_cast<void>(addDirectories(dir));
  }
  std::unique_ptr<WritableFile> createTemporary(const std::string& prefix, std::string& name) override {
    std::unique_ptr<WritableFile> kept = ScratchEnv::createTemporary(prefix, name);
    if (kept == nullptr) return nullptr;
    return std::make_unique<DiscardedFile>();
  }
};

}  // namespace

DryRunVerdict dryRunInstall(Env& files, const std::string& path, const TrustKeys& keys) {
  ScratchDevice device;
  InstallerState state(device);
  state.recordOnly = true;
  DryRunVerdict verdict;
  InputFile in(files, path, ReadLimits{true, true});
  if (in.is_open()) {
    StagedFiles staged(device);
    StreamInstallRequest request;
    request.flags = everyTolerableReason;
    request.keys = &keys;
    verdict.accepted = installStream(state, staged, in, request).status == ExitSuccess;
  }
  verdict.messages = state.messages;
  return verdict;
}

}  // namespace installer
