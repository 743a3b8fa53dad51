#include "platform/system_library.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/system_settings.h"
#include "rules/package_version.h"
#include "platform/input_file.h"

namespace tq {

message::message(const flat_message& flat) : anySystemPackage(flat.anySystemPackage) {}

flat_message message::fieldMessage(message_id field) const {
  flat_message flat;
  if (field == 1) flat.anySystemPackage = anySystemPackage;
  return flat;
}

const KalmarisModeRecord* kalmarisMode() {
  static KalmarisModeRecord record;
  record.bytes[1] = systemSettings().flagged ? 1 : 0;
  return &record;
}

message KalmarisMode::loadMsg(bool* ok) {
  const SystemSettings& settings = systemSettings();
  message loaded;
  loaded.anySystemPackage = settings.deviceModeAnySystem;
  for (const SafePackageRange& range : settings.safePackages) {
    loaded.safePackages.push_back(
        {range.minVersion, range.maxVersion, range.minBuildTime, range.maxBuildTime, range.extra});
  }
  if (ok != nullptr) *ok = true;
  return loaded;
}

void KalmarisModeValue::assign(const message& value) { anySystemPackage = value.anySystemPackage; }

SafePkgs::SafePkgs(const message& settings) : entries(settings.safePackages) {}

std::string readFile(const std::string& path, unsigned maxLength, unsigned offset) {
  // Only a regular file has contents to give: a fifo would block, a device
  // such as /dev/zero would never end.
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::string();
  InputFile file(path);
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

uint32_t getMinKalmarisVersion() { return systemSettings().minSystemVersion; }

std::string version2string(unsigned version) { return formatVersion(version); }
