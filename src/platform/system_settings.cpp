#include "platform/system_settings.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

bool parseNumber(const std::string& word, bool allowNegative, long long& value) {
  if (word.empty()) return false;
  const char* text = word.c_str();
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 0);
  if (errno != 0 || *end != '\0') return false;
  if (value < 0) return allowNegative && value >= INT32_MIN;
  return value <= 0xFFFFFFFFll;
}

bool readNumbers(std::istringstream& words, size_t count, bool allowNegative, std::vector<long long>& out) {
  std::string word;
  while (words >> word) {
    long long value = 0;
    if (!parseNumber(word, allowNegative, value)) return false;
    out.push_back(value);
  }
  return out.size() == count;
}

bool isBoolean(const std::vector<long long>& numbers) { return numbers[0] == 0 || numbers[0] == 1; }

// Applies one non-empty line; false when the line is malformed or unknown.
bool applyLine(const std::string& key, std::istringstream& words, SystemSettings& settings) {
  std::vector<long long> n;
  if (key == "flagged") {
    if (!readNumbers(words, 1, false, n) || !isBoolean(n)) return false;
    settings.flagged = n[0] == 1;
  } else if (key == "device-mode-any-system") {
    if (!readNumbers(words, 1, false, n) || !isBoolean(n)) return false;
    settings.deviceModeAnySystem = n[0] == 1;
  } else if (key == "safe-package") {
    if (!readNumbers(words, 5, false, n)) return false;
    settings.safePackages.push_back({static_cast<uint32_t>(n[0]), static_cast<uint32_t>(n[1]),
                                     static_cast<uint32_t>(n[2]), static_cast<uint32_t>(n[3]),
                                     static_cast<uint32_t>(n[4])});
  } else if (key == "min-system-version") {
    if (!readNumbers(words, 1, false, n)) return false;
    settings.minSystemVersion = static_cast<uint32_t>(n[0]);
  } else if (key == "processor-version") {
    if (!readNumbers(words, 1, false, n)) return false;
    settings.hasProcessorVersion = true;
    settings.processorVersion = static_cast<uint32_t>(n[0]);
  } else if (key == "flash-ioctl-result") {
    if (!readNumbers(words, 1, true, n) || n[0] > INT32_MAX) return false;
    settings.hasFlashIoctlResult = true;
    settings.flashIoctlResult = static_cast<int32_t>(n[0]);
  } else {
    return false;
  }
  return true;
}

SystemSettings loadSettings() {
  SystemSettings settings;
  std::string path = systemSettingsPath();
  std::ifstream file(path);
  if (file.is_open()) parseSystemSettings(file, path, settings, std::cerr);
  return settings;
}

// Read the settings before main, so that a later root change does not matter.
const bool settingsLoadedAtStart = (systemSettings(), true);

}  // namespace

void parseSystemSettings(std::istream& input, const std::string& fileName, SystemSettings& settings,
                         std::ostream& diagnostics) {
  std::string line;
  for (unsigned number = 1; std::getline(input, line); ++number) {
    size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string key;
    if (!(words >> key)) continue;
    if (!applyLine(key, words, settings)) {
      diagnostics << fileName << ":" << number << ": ignoring malformed or unknown setting: " << key << "\n";
    }
  }
}

SystemSettings& systemSettings() {
  static SystemSettings settings = loadSettings();
  return settings;
}

std::string systemSettingsPath() {
  const char* fromEnvironment = std::getenv("INSTALLER_SYSTEM_CONF");
  return fromEnvironment != nullptr ? fromEnvironment : "/etc/installer/system.conf";
}
