#include "package/package_install.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "package/file_extraction.h"
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
#include "rules/messages.h"
#include "rules/package_labels.h"

namespace {

constexpr uint32_t imageStep = 4096;
constexpr uint32_t everyReason = 0xFFFFFFFF;
constexpr size_t statusWipeWidth = 78;

bool partIs(const PackageStream& stream, PartType type) { return stream.currentType == static_cast<int32_t>(type); }

void advance(PackageStream& stream) { static_cast<void>(stream.nextPart()); }

bool bootImageRequested() { return std::getenv("bootimage") != nullptr; }

bool isRecorded(const PackageStream& stream) { return stream.magic != UnrecordedPackageMagic; }

// The boot scripts convert the configuration when a system of major version
// 6 or older arrives; they need the marker even if the package is refused.
void markConversion(const PackageInfo& package) {
  if (package.name != "system" || (package.version >> 24) > 6) return;
  std::ofstream marker(paths::convertMarker, std::ios::binary | std::ios::trunc);
}

// A conflicting package is installed, but disabled; a user's choice of
// state is kept.
void applyUserChoice(InstalledPackage& record, const std::map<std::string, uint8_t>& userChoices, uint32_t& mask) {
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

// The squashfs image is never extracted, but it is read through so that it
// is digested and copied. False at the first short read.
bool passOverImage(const InstalledPackage& record, PackageStream& stream, bool showProgress) {
  char buffer[imageStep];
  while (stream.remaining() > 0) {
    if (showProgress) showInstallProgress(record, stream);
    uint32_t step = std::min(stream.remaining(), imageStep);
    stream.read(buffer, step);
    if (static_cast<uint32_t>(stream.gcount()) != step) return false;
  }
  advance(stream);
  return true;
}

// With "bootimage" set, a package that owns the boot image runs from that
// image, so its files are not put on flash.
bool passOverFiles(InstalledPackage& record, StagedFiles& staged, PackageStream& stream, bool install) {
  bool extract = install && !(bootImageRequested() && (record.headerFlags & OwnsBootImage) != 0);
  if (extract && !extractFiles(record, staged, stream)) return false;
  advance(stream);
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

// Reads the package from behind its header to its end: the image, the files
// (staged only when `install`), the signature, and for a stand-alone package
// the end of the stream. False after the failure has been reported.
bool readPackageBody(InstalledPackage& record, StagedFiles& staged, PackageStream& stream, bool install,
                     bool standAlone) {
  if (partIs(stream, PartType::SquashfsImage) && !passOverImage(record, stream, install)) {
    reportBrokenPackage(record);
    return false;
  }
  if (partIs(stream, PartType::Files) && !passOverFiles(record, staged, stream, install)) return false;
  if (!partIs(stream, PartType::Signature) || !verifyPackageSignature(stream, record)) {
    reportBrokenPackage(record);
    return false;
  }
  advance(stream);
  if (standAlone && !endsAfterSignature(stream)) {
    reportBrokenPackage(record);
    return false;
  }
  return true;
}

// The package is not installed: a requirement is missing, it is older, an
// equal package is installed, or (in a bundle) the member is not needed. An
// equal package or an unneeded member is still read to its end and verified
// before its installed record is given back, so that a damaged stream is
// never taken for an installed package.
InstalledPackage* settleNotInstalled(InstallerState& state, StagedFiles& staged, PackageStream& stream,
                                     InstalledPackage& record, uint32_t mask, uint32_t mode, bool standAlone,
                                     bool* bootImage) {
  if (standAlone && ((mask & Requirement) != 0 || (mask & Reinstall) == 0)) return nullptr;
  if (!readPackageBody(record, staged, stream, false, standAlone)) return nullptr;
  InstalledPackage* installed = findByName(state, record.name);
  if (standAlone && (mode & Reinstall) != 0) {
    setStatusLine(state, std::string(statusWipeWidth, ' '));
    setStatusLine(state, "");
    info(state, "installed %s%s", record.disabled ? "(disabled) " : "", packageLabel(record).c_str());
    if (installed != nullptr && bootImage != nullptr) *bootImage = (installed->headerFlags & OwnsBootImage) != 0;
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

bool stageEmptyMarker(StagedFiles& staged, const char* path, const InstalledPackage& record) {
  std::ofstream marker = createStagedFile(staged, path, 1, 0);
  if (marker.is_open()) {
    marker.close();
    if (!marker.fail()) return true;
  }
  reportInstallFailure(record, path);
  return false;
}

// Markers that tell the boot scripts what arrived.
bool stageMarkers(StagedFiles& staged, const InstalledPackage& record) {
  bool branding = record.name == "branding";
  if ((record.headerFlags & OwnsBootImage) != 0 || branding) {
    if (!stageEmptyMarker(staged, paths::upgradedMarker, record)) return false;
  }
  return !branding || stageEmptyMarker(staged, paths::brandingInstalledMarker, record);
}

bool isListed(const InstallerState& state, const InstalledPackage* record) {
  for (const auto& package : state.packages) {
    if (package.get() == record) return true;
  }
  return false;
}

InstalledPackage* installAccepted(InstallerState& state, StagedFiles& staged, PackageStream& stream,
                                  std::unique_ptr<InstalledPackage> record, bool standAlone, bool* bootImage) {
  bool recorded = isRecorded(stream);
  if (recorded) replaceInstalled(state, staged, record->name);
  showInstallProgress(*record, stream);
  if (recorded && !prepareDatabaseDir(*record, staged)) return nullptr;
  if (!readPackageBody(*record, staged, stream, true, standAlone)) return nullptr;
  if (recorded && !writePackageMeta(*record, staged)) return nullptr;
  if (!stageMarkers(staged, *record)) return nullptr;
  if (standAlone) setStatusLine(state, "");

  InstalledPackage* installed = record.get();
  bool ownsBootImage = (installed->headerFlags & OwnsBootImage) != 0;
  state.packages.push_back(std::move(record));
  static_cast<void>(applyPendingActions(state, staged, 0));
  // The resolution may in principle remove what it was given; never hand
  // out a record that is gone.
  if (!isListed(state, installed)) return nullptr;
  if (bootImage != nullptr) *bootImage = ownsBootImage && bootImageRequested();
  return installed;
}

}  // namespace

InstalledPackage* installPackage(InstallerState& state, StagedFiles& staged, PackageStream& stream, uint32_t mode,
                                 const std::map<std::string, uint8_t>& userChoices, const DependencyRef* bundleRef,
                                 std::string* imageDir, bool* bootImage) {
  auto record = std::make_unique<InstalledPackage>();
  if (!readPackageHeader(*record, stream)) return nullptr;
  if (bundleRef != nullptr && nameEquals(record->name, bundleRef->name)) return nullptr;
  // A member belongs to its bundle from here on, so that every message
  // names the bundle, also for a member that is not installed.
  if (bundleRef != nullptr) record->bundle = *bundleRef;
  if (record->bootImageFlag && imageDir != nullptr) *imageDir = packageDir(*record);
  markConversion(*record);

  uint32_t mask = checkAcceptance(state, *record, bundleRef != nullptr ? everyReason : mode | Conflict);
  applyUserChoice(*record, userChoices, mask);
  if ((mask & (~mode | Reinstall)) != 0) {
    return settleNotInstalled(state, staged, stream, *record, mask, mode, bundleRef == nullptr, bootImage);
  }
  return installAccepted(state, staged, stream, std::move(record), bundleRef == nullptr, bootImage);
}

bool prepareDatabaseDir(const InstalledPackage& package, StagedFiles& staged) {
  std::string directory = packageDir(package);
  if (const StagedOp* op = staged.find(directory)) {
    if (op->kind != StagedKind::Delete) return false;
    unstage(staged, directory);
  }
  // Without its trailing "/", so that a file standing there is seen as one.
  std::string path = directory.substr(0, directory.size() - 1);
  struct stat info;
  return stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode);
}
