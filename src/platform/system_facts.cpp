#include "platform/system_facts.h"

#include "platform/system_library.h"

namespace installer {

namespace {

bool inRange(uint32_t value, uint32_t lowest, uint32_t highest) { return lowest <= value && value <= highest; }

// Field 1 of the device-mode settings holds the mode itself.
constexpr tq::message_id deviceModeField = 1;

}  // namespace

bool routerInFlaggedState() { return tq::kalmarisMode()->bytes[1] != 0; }

bool deviceModeAllowsSystem(uint32_t version, uint32_t buildTime) {
  tq::message settings = tq::KalmarisMode::loadMsg(nullptr);
  tq::KalmarisModeValue mode;
  {
    tq::message field(settings.get<tq::message_id>(deviceModeField));
    mode.assign(field);
  }
  if (mode.allowsAnySystemPackage()) return true;
  tq::SafePkgs safe(settings);
  if (safe.entries.empty()) return true;
  for (const auto& entry : safe.entries) {
    if (inRange(version, entry[0], entry[1]) && inRange(buildTime, entry[2], entry[3])) return true;
  }
  return false;
}

uint32_t minimumSystemVersion() { return getMinKalmarisVersion(); }

std::string libraryVersionText(uint32_t version) { return version2string(version); }

bool signedBundlesRequired() { return systemLibrarySettings().requireSignedBundles; }

std::string readDeviceFile(const std::string& path) { return tq::readFile(path, 0xFFFFFFFF, 0); }

}  // namespace installer
