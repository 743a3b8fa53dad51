#include "install/package_install.h"

#include <algorithm>
#include <memory>

#include "install/file_extraction.h"
#include "model/messages.h"
#include "model/package_labels.h"
#include "package/package_format.h"
#include "package/package_header.h"
#include "package/package_signature.h"
#include "package/package_stream.h"
#include "package/stream_end.h"
#include "package/stream_progress.h"
#include "pdb/database_writer.h"
#include "pdb/pending_actions.h"
#include "platform/device_paths.h"
#include "rules/acceptance.h"

namespace installer {

namespace {

constexpr uint32_t imageStep = 4096;
constexpr uint32_t everyReason = 0xFFFFFFFF;
constexpr size_t statusWipeWidth = 78;

bool partIs(const PackageStream& stream, PartType type) { return stream.currentType == static_cast<int32_t>(type); }

void advance(PackageStream& stream) { static_cast<void>(stream.nextPart()); }

bool bootImageRequested(Env& env) { return env.variable("bootimage") != nullptr; }

bool isRecorded(const PackageStream& stream) { return stream.magic != UnrecordedPackageMagic; }

// The boot scripts convert the configuration when a system of major version
// 6 or older arrives; they need the marker even if the package is refused.
void markConversion(Env& env, const PackageInfo& package) {
  if (package.name != "system" || (package.version >> 24) > 6) return;
  // Nobody reads it; whether it could be made is the boot scripts' concern.
  std::unique_ptr<WritableFile> marker;
  static_cast<void>(env.openWritable(paths::convertMarker, WriteMode::Truncate, 0666, marker));
}

// A conflicting package is installed, but disabled; a user's choice of
// state is kept.
void applyUserChoice(InstalledPackage& record, const UserChoices& userChoices, uint32_t& mask) {
  auto choice = userChoices.find(record.name);
  record.disabled = false;
  if (choice != userChoices.end()) {
    record.disabled = choice->second != 0;
    record.byUser = true;
  }
  if ((mask & Conflict) != 0) {
    record.disabled = true;
    mask &= ~static_cast<uint32_t>(Conflict);
  }
}

// Everything the install of one package works with.
struct PackageRun {
  InstallerState& state;
  StagedFiles& staged;
  PackageStream& stream;
  const PackageInstallRequest& request;
  PackageInstallOutcome& outcome;

  bool standAlone() const { return request.bundle == nullptr; }
};

// The squashfs image is never extracted, but it is read through so that it
// is digested and copied. False at the first short read.
bool passOverImage(PackageRun& run, const InstalledPackage& record, bool showProgress) {
  char buffer[imageStep];
  while (run.stream.remaining() > 0) {
    if (showProgress) showInstallProgress(run.state, record, run.stream);
    uint32_t step = std::min(run.stream.remaining(), imageStep);
    run.stream.read(buffer, step);
    if (static_cast<uint32_t>(run.stream.gcount()) != step) return false;
  }
  advance(run.stream);
  return true;
}

// With "bootimage" set, a package that owns the boot image runs from that
// image, so its files are not put on flash.
bool passOverFiles(PackageRun& run, InstalledPackage& record, bool install) {
  bool runsFromImage = bootImageRequested(run.state.env) && (record.headerFlags & OwnsBootImage) != 0;
  if (install && !runsFromImage && !extractFiles(run.state, record, run.staged, run.stream)) return false;
  advance(run.stream);
  return true;
}

// After the signature a stand-alone package may only carry an architecture
// part and an empty dependency part, and the stream must end where its file
// header said it would.
bool endsAfterSignature(PackageStream& stream) {
  if (partIs(stream, PartType::Architecture)) advance(stream);
  if (partIs(stream, PartType::Dependencies)) {
    if (stream.partLength() != 0) return false;
    advance(stream);
  }
  return stream.currentType == -1 && endedAtDeclaredLength(stream);
}

bool broken(PackageRun& run, const InstalledPackage& record) {
  reportBrokenPackage(run.state, record);
  return false;
}

// Reads the package from behind its header to its end: the image, the files
// (staged only when `install`), the signature, and for a stand-alone package
// the end of the stream. False after the failure has been reported.
bool readPackageBody(PackageRun& run, InstalledPackage& record, bool install) {
  PackageStream& stream = run.stream;
  if (partIs(stream, PartType::SquashfsImage) && !passOverImage(run, record, install)) return broken(run, record);
  if (partIs(stream, PartType::Files) && !passOverFiles(run, record, install)) return false;
  if (!partIs(stream, PartType::Signature) ||
      !verifyPackageSignature(run.state.env, stream, record, run.request.keys)) {
    return broken(run, record);
  }
  advance(stream);
  if (run.standAlone() && !endsAfterSignature(stream)) return broken(run, record);
  return true;
}

// The package is not installed: a requirement is missing, it is older, an
// equal package is installed, or (in a bundle) the member is not needed. An
// equal package or an unneeded member is still read to its end and verified
// before its installed record is given back, so that a damaged stream is
// never taken for an installed package.
InstalledPackage* settleNotInstalled(PackageRun& run, InstalledPackage& record, uint32_t mask) {
  if (run.standAlone() && ((mask & Requirement) != 0 || (mask & Reinstall) == 0)) return nullptr;
  if (!readPackageBody(run, record, false)) return nullptr;
  InstalledPackage* installed = findByName(run.state, record.name);
  if (run.standAlone() && (run.request.mode & Reinstall) != 0) {
    setStatusLine(run.state, std::string(statusWipeWidth, ' '));
    setStatusLine(run.state, "");
    info(run.state, "installed %s%s", record.disabled ? "(disabled) " : "", packageLabel(record).c_str());
    if (installed != nullptr) run.outcome.bootImage = (installed->headerFlags & OwnsBootImage) != 0;
  }
  return installed;
}

// The older package of the same name leaves the list now; its files and
// database directory are staged for removal.
void replaceInstalled(InstallerState& state, StagedFiles& staged, const std::string& name) {
  int index = indexOfName(state, name);
  if (index < 0) return;
  stagePackageRemoval(staged, *state.packages[static_cast<size_t>(index)]);
  removePackageAt(state, static_cast<size_t>(index));
}

bool stageMarker(PackageRun& run, const char* path, const InstalledPackage& record) {
  Status staged = stageEmptyFile(run.staged, path);
  if (staged.isOk()) return true;
  reportInstallFailure(run.state, record, path, staged);
  return false;
}

// Markers that tell the boot scripts what arrived.
bool stageMarkers(PackageRun& run, const InstalledPackage& record) {
  bool branding = record.name == "branding";
  if ((record.headerFlags & OwnsBootImage) != 0 || branding) {
    if (!stageMarker(run, paths::upgradedMarker, record)) return false;
  }
  return !branding || stageMarker(run, paths::brandingInstalledMarker, record);
}

bool isListed(const InstallerState& state, const InstalledPackage* record) {
  for (const auto& package : state.packages) {
    if (package.get() == record) return true;
  }
  return false;
}

InstalledPackage* installAccepted(PackageRun& run, std::unique_ptr<InstalledPackage> record) {
  InstallerState& state = run.state;
  bool recorded = isRecorded(run.stream);
  if (recorded) replaceInstalled(state, run.staged, record->name);
  showInstallProgress(state, *record, run.stream);
  if (recorded && !prepareDatabaseDir(*record, run.staged)) return nullptr;
  if (!readPackageBody(run, *record, true)) return nullptr;
  if (recorded && !writePackageMeta(state, *record, run.staged)) return nullptr;
  if (!stageMarkers(run, *record)) return nullptr;
  if (run.standAlone()) setStatusLine(state, "");

  InstalledPackage* installed = record.get();
  bool ownsBootImage = (installed->headerFlags & OwnsBootImage) != 0;
  state.packages.push_back(std::move(record));
  // Settles the database with the new package in it; silent, so there is
  // nothing of its outcome to pass on.
  static_cast<void>(applyPendingActions(state, run.staged, Verbosity::Silent));
  // The resolution may in principle remove what it was given; never hand
  // out a record that is gone.
  if (!isListed(state, installed)) return nullptr;
  run.outcome.bootImage = ownsBootImage && bootImageRequested(state.env);
  return installed;
}

}  // namespace

InstalledPackage* installPackage(InstallerState& state, StagedFiles& staged, PackageStream& stream,
                                 const PackageInstallRequest& request, PackageInstallOutcome& outcome) {
  PackageRun run{state, staged, stream, request, outcome};
  auto record = std::make_unique<InstalledPackage>();
  if (!readPackageHeader(*record, stream)) return nullptr;
  const DependencyRef* bundle = request.bundle;
  if (bundle != nullptr && nameEquals(record->name, bundle->name)) return nullptr;
  // A member belongs to its bundle from here on, so that every message
  // names the bundle, also for a member that is not installed.
  if (bundle != nullptr) record->bundle = *bundle;
  if (record->bootImageFlag) outcome.imageDirectory = packageDir(*record);
  // Only a package with an image of its own keeps a copy of its stream (a
  // member's copy is its bundle's): the rest need not be written to flash.
  if (bundle == nullptr && !record->bootImageFlag) stream.stopCopying();
  markConversion(state.env, *record);

  uint32_t mask = checkAcceptance(state, *record, bundle != nullptr ? everyReason : request.mode | Conflict);
  applyUserChoice(*record, request.userChoices, mask);
  if ((mask & (~request.mode | Reinstall)) != 0) return settleNotInstalled(run, *record, mask);
  return installAccepted(run, std::move(record));
}

bool prepareDatabaseDir(const InstalledPackage& package, StagedFiles& staged) {
  std::string directory = packageDir(package);
  if (const StagedOp* op = staged.find(directory)) {
    if (op->kind != StagedKind::Delete) return false;
    unstage(staged, directory);
  }
  // Without its trailing "/", so that a file standing there is seen as one.
  std::string path = directory.substr(0, directory.size() - 1);
  FileStatus info;
  return !staged.env().status(path, info).isOk() || info.type == FileType::Directory;
}

}  // namespace installer
