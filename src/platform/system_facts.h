// What the installer asks of the router's system library, by readable
// names. Only these functions call the library (system_library.h).
#pragma once

#include <cstdint>
#include <string>

namespace installer {

// Whether the router is in flagged state. main asks once, at its start.
bool routerInFlaggedState();

// Whether the device mode lets a system package of this version and build
// time be installed: any system package may be, or the mode names no safe
// range, or one of its ranges holds both. Asked afresh on every call.
bool deviceModeAllowsSystem(uint32_t version, uint32_t buildTime);

// The lowest version the system package may have on this device.
uint32_t minimumSystemVersion();

// The library's text form of a version (the listing and the minimum-version
// message use it; everything else formats versions itself).
std::string libraryVersionText(uint32_t version);

// Whether a bundle must carry a bundle signature part to be installed: the
// settings file's "require-signed-bundles" (default no). Not a fact of the
// system library; it is read with the settings the stand-in was opened with.
bool signedBundlesRequired();

// The whole contents of a small file, such as a device-tree property; empty
// when it cannot be read or is no regular file.
std::string readDeviceFile(const std::string& path);

}  // namespace installer
