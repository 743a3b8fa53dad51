#include "platform/system_settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "platform/input_file.h"

namespace installer {

namespace {

// Decimal or 0x-hex, no blanks or '+'; a '-' only where `allowNegative`.
// Unsigned values fit 32 bits, negative ones a signed 32-bit word.
bool parseNumber(const std::string& word, bool allowNegative, long long& value) {
  size_t start = allowNegative && !word.empty() && word[0] == '-' ? 1 : 0;
  bool negative = start == 1;
  bool hex = word.size() > start + 2 && word[start] == '0' && (word[start + 1] == 'x' || word[start + 1] == 'X');
  const char* digits = word.c_str() + start + (hex ? 2 : 0);
  bool digitFirst = hex ? std::isxdigit(static_cast<unsigned char>(*digits)) != 0 : (*digits >= '0' && *digits <= '9');
  if (!digitFirst) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long magnitude = std::strtoull(digits, &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0') return false;
  if (negative) {
    if (magnitude > 0x80000000ull) return false;
    value = -static_cast<long long>(magnitude);
    return true;
  }
  if (magnitude > 0xFFFFFFFFull) return false;
  value = static_cast<long long>(magnitude);
  return true;
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

// Applies one non-empty line; false when its values are malformed or the key
// is unknown (`known` tells which).
bool applyLine(const std::string& key, std::istringstream& words, SystemSettings& settings, bool& known) {
  known = true;
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
  } else if (key == "require-signed-bundles") {
    if (!readNumbers(words, 1, false, n) || !isBoolean(n)) return false;
    settings.requireSignedBundles = n[0] == 1;
  } else {
    known = false;
    return false;
  }
  return true;
}

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
    bool known = true;
    if (!applyLine(key, words, settings, known)) {
      diagnostics << fileName << ":" << number << ": " << (known ? "malformed value for" : "unknown setting") << " \""
                  << key << "\", line ignored\n";
    }
  }
}

SystemSettings loadSystemSettings(Env& env, const std::string& path, std::string& diagnostics) {
  SystemSettings settings;
  FileStatus info;
  Status found = env.status(path, info);
  if (found.is(Status::Kind::NotFound)) return settings;
  // A few lines; 1 MiB is far more than any settings file holds.
  InputFile file(env, path, ReadLimits{true, true, 1024 * 1024});
  std::ostringstream messages;
  if (!found.isOk() || info.type != FileType::Regular || !file.is_open()) {
    messages << path << ": cannot be read, using the default settings\n";
  } else {
    parseSystemSettings(file, path, settings, messages);
  }
  diagnostics = messages.str();
  return settings;
}

std::string systemSettingsPath(Env& env) {
  const char* fromEnvironment = env.variable(systemSettingsVariable);
  return fromEnvironment != nullptr ? fromEnvironment : defaultSystemSettingsPath;
}

}  // namespace installer
