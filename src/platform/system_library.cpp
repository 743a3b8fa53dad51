// The stand-in for the device's system library (see system_library.h).
#include "platform/system_library.h"

#include <algorithm>

#include "base/package_version.h"
#include "platform/input_file.h"

namespace {

// What the stand-in was opened with. The device's library keeps its own
// state for the life of the process in the same way.
struct StandIn {
  installer::Env* env = nullptr;
  installer::SystemSettings settings;
};

StandIn& standIn() {
  static StandIn opened;
  return opened;
}

}  // namespace

namespace tq {

message::message(const flat_message& flat) : anySystemPackage(flat.anySystemPackage) {}

flat_message message::fieldMessage(message_id field) const {
  flat_message flat;
  if (field == 1) flat.anySystemPackage = anySystemPackage;
  return flat;
}

const KalmarisModeRecord* kalmarisMode() {
  static KalmarisModeRecord record;
  record.bytes[1] = standIn().settings.flagged ? 1 : 0;
  return &record;
}

message KalmarisMode::loadMsg(bool* ok) {
  const installer::SystemSettings& settings = standIn().settings;
  message loaded;
  loaded.anySystemPackage = settings.deviceModeAnySystem;
  for (const installer::SafePackageRange& range : settings.safePackages) {
    loaded.safePackages.push_back(
        {range.minVersion, range.maxVersion, range.minBuildTime, range.maxBuildTime, range.extra});
  }
  if (ok != nullptr) *ok = true;
  return loaded;
}

void KalmarisModeValue::assign(const message& value) { anySystemPackage = value.anySystemPackage; }

SafePkgs::SafePkgs(const message& settings) : entries(settings.safePackages) {}

std::string readFile(const std::string& path, unsigned maxLength, unsigned offset) {
  installer::Env* env = standIn().env;
  // Only a regular file has contents to give: a fifo would block, a device
  // such as /dev/zero would never end.
  installer::FileStatus info;
  if (env == nullptr || !env->status(path, info).isOk() || info.type != installer::FileType::Regular)
    return std::string();
  // What the installer reads this way are device-tree properties: short
  // texts. However much a caller allows, no more than 64 KiB is read.
  uint64_t bound = std::min<uint64_t>(uint64_t{offset} + maxLength, 64 * 1024);
  installer::InputFile file(*env, path, installer::ReadLimits{true, true, bound});
  if (!file.is_open()) return std::string();
  file.seekg(offset);
  std::string contents;
  char chunk[4096];
  while (contents.size() < maxLength && file.read(chunk, sizeof chunk).gcount() > 0) {
    size_t wanted = std::min<size_t>(static_cast<size_t>(file.gcount()), maxLength - contents.size());
    contents.append(chunk, wanted);
  }
  return contents;
}

}  // namespace tq

uint32_t getMinKalmarisVersion() { return standIn().settings.minSystemVersion; }

std::string version2string(unsigned version) { return installer::formatVersion(version); }

namespace installer {

void openSystemLibrary(Env& env, const SystemSettings& settings) {
  standIn().env = &env;
  standIn().settings = settings;
}

const SystemSettings& systemLibrarySettings() { return standIn().settings; }

}  // namespace installer
