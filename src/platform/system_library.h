// The router's system library, as the device declares it: flagged state,
// device-mode settings, the minimum system version, the text form of a
// version, and small file reads. These names appear nowhere else; the rest
// of the installer asks through the readable functions of system_facts.h.
//
// This build has no such library. Its stand-in answers from the system
// settings (system_settings.h) and reads files through an Env; main opens
// it once at its start, before any root change, and a test opens it with
// the settings it needs. Like the library it stands in for, it keeps what
// it was opened with for the whole process; until it is opened it answers
// with the defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/system_settings.h"

namespace tq {

using message_id = uint32_t;

// One field of a settings message, detached from it.
class flat_message {
 public:
  bool anySystemPackage = false;
};

// The device-mode settings. Field 1 is the device-mode value.
class message {
 public:
  message() = default;
  explicit message(const flat_message& flat);
  ~message() = default;

  template <class Id>
  flat_message get(Id field) const {
    return fieldMessage(static_cast<message_id>(field));
  }

  bool anySystemPackage = false;
  std::vector<std::array<uint32_t, 5>> safePackages;

 private:
  flat_message fieldMessage(message_id field) const;
};

// Process mode record: byte 1 is non-zero when the router is in flagged state.
struct KalmarisModeRecord {
  uint8_t bytes[4] = {0, 0, 0, 0};
};
const KalmarisModeRecord* kalmarisMode();

class KalmarisMode {
 public:
  // `ok`, when given, receives whether the settings could be loaded.
  static message loadMsg(bool* ok);
};

class KalmarisModeValue {
 public:
  void assign(const message& value);
  bool allowsAnySystemPackage() const { return anySystemPackage; }

 private:
  bool anySystemPackage = false;  // nothing assigned: false
};

// Entries: lowest version, highest version, lowest build time, highest build
// time, and a fifth word the installer does not use.
class SafePkgs {
 public:
  explicit SafePkgs(const message& settings);
  std::vector<std::array<uint32_t, 5>> entries;
};

// Up to maxLength bytes of the file from `offset`; empty when unreadable or
// not a regular file.
std::string readFile(const std::string& path, unsigned maxLength, unsigned offset);

}  // namespace tq

uint32_t getMinKalmarisVersion();
std::string version2string(unsigned version);

namespace installer {

// Opens the stand-in: what it answers from now on. `env` must outlive every
// later call.
void openSystemLibrary(Env& env, const SystemSettings& settings);
// The settings the stand-in was opened with.
const SystemSettings& systemLibrarySettings();

}  // namespace installer
