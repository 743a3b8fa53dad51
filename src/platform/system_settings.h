// The facts that the system library supplies, read from a settings file of
// our own ("INSTALLER_SYSTEM_CONF", else "/etc/installer/system.conf").
//
//   # comment
//   flagged 0|1
//   device-mode-any-system 0|1
//   safe-package MINVER MAXVER MINBUILD MAXBUILD EXTRA   (repeatable)
//   min-system-version V
//   processor-version V        (absent: this machine has no processor variant)
//   flash-ioctl-result V       (signed; absent: "/dev/flash" cannot be opened)
//   require-signed-bundles 0|1 (1: a bundle without a bundle signature part
//                              is refused; default 0, as before the part existed)
//
// Numbers are decimal or 0x-hex (a leading 0 is not octal). main reads the
// file once, at its start and so before any root change. A missing file
// means all defaults; one that exists but cannot be read gets one line of
// diagnostics and the defaults too.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/env.h"

namespace installer {

struct SafePackageRange {
  uint32_t minVersion = 0;
  uint32_t maxVersion = 0;
  uint32_t minBuildTime = 0;
  uint32_t maxBuildTime = 0;
  uint32_t extra = 0;
};

struct SystemSettings {
  bool flagged = false;
  bool deviceModeAnySystem = false;
  std::vector<SafePackageRange> safePackages;
  uint32_t minSystemVersion = 0;
  bool hasProcessorVersion = false;
  uint32_t processorVersion = 0;
  bool hasFlashIoctlResult = false;
  int32_t flashIoctlResult = 0;
  bool requireSignedBundles = false;
};

// Parses settings lines into `settings`. A malformed line or an unknown key
// gets one line on `diagnostics` naming `fileName` and the line number, and
// is otherwise ignored.
void parseSystemSettings(std::istream& input, const std::string& fileName, SystemSettings& settings,
                         std::ostream& diagnostics);

constexpr char systemSettingsVariable[] = "INSTALLER_SYSTEM_CONF";
constexpr char defaultSystemSettingsPath[] = "/etc/installer/system.conf";

// Reads the settings file at `path`. `diagnostics` receives one line per
// malformed line, or one line when the file exists but cannot be read.
SystemSettings loadSystemSettings(Env& env, const std::string& path, std::string& diagnostics);

// The settings file: the variable INSTALLER_SYSTEM_CONF, else the default.
std::string systemSettingsPath(Env& env);

}  // namespace installer
