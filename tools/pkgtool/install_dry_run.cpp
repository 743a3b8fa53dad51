#include "install_dry_run.h"

#include <set>

#include "install/stream_install.h"
#include "model/installer_state.h"
#include "package/package_header.h"
#include "package/package_stream.h"
#include "platform/device_paths.h"
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
  Status append(const char*, size_t) override { return Status::ok(); }
  Status sync() override { return Status::ok(); }
  Status close() override { return Status::ok(); }
};

// The run keeps its messages (recordOnly) and shows nothing, so nothing
// ever reaches its Output.
class SilentOutput : public Output {
 public:
  void write(std::string_view) override {}
  void flush() override {}
  void writeError(std::string_view) override {}
};

class ScratchDevice : public ScratchEnv {
 public:
  ScratchDevice() : ScratchEnv(scratchCapacity) {
    for (const char* dir : {"/flash/var/pdb", "/ram", "/rw", "/tmp"}) static_cast<void>(addDirectories(dir));
  }
  Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) override {
    std::unique_ptr<WritableFile> kept;
    Status created = ScratchEnv::createTemporary(prefix, name, kept);
    if (created.isOk()) file = std::make_unique<DiscardedFile>();
    return created;
  }
};

// Every package the file depends on and does not carry, installed at a
// version the dependency accepts: the verdict is about the file, and the
// run's resolution would otherwise drop what it installs for want of them.
void provideDependencies(Env& files, const std::string& path, InstallerState& state) {
  InputFile in(files, path, ReadLimits{true, true});
  PackageStream stream(in, false, nullptr);
  stream.wantedTypes = {PackageHeader, Text24, Architecture, Text2, Note, Dependencies, Provides, Conflicts};
  std::set<std::string> carried;
  std::vector<DependencyRef> needed;
  // The header reader takes the relation parts after a header and stops at
  // the next part it does not take.
  for (int32_t type = stream.nextPart(); type != -1;) {
    PackageInfo header;
    if (type != PackageHeader) {
      type = stream.nextPart();
    } else if (readPackageHeader(header, stream)) {
      carried.insert(header.name);
      needed.insert(needed.end(), header.deps.begin(), header.deps.end());
      type = stream.currentType;
    } else {
      break;
    }
  }
  for (const DependencyRef& ref : needed) {
    if (carried.count(ref.name) != 0 || findByName(state, ref.name) != nullptr) continue;
    auto record = std::make_unique<InstalledPackage>(ref.name);
    record->version = ref.min != 0 ? ref.min : 1;
    state.packages.push_back(std::move(record));
  }
}

}  // namespace

DryRunVerdict dryRunInstall(Env& files, const std::string& path, const TrustKeys& keys) {
  ScratchDevice device;
  // Whether a legacy signature may pass is judged as on this machine, as
  // the report before the run judges it.
  if (files.exists(paths::secureMarker)) static_cast<void>(device.addFile(paths::secureMarker, ""));
  SilentOutput silent;
  InstallerState state(device, silent);
  state.recordOnly = true;
  provideDependencies(files, path, state);
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
