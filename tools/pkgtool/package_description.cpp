#include "package_description.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "base/package_version.h"
#include "file_tree.h"
#include "package/package_format.h"
#include "platform/input_file.h"
#include "tool_errors.h"

namespace installer {

namespace {

std::string trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool parseNumber(const std::string& text, int base, uint32_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

bool parseSigned(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

std::string resolvePath(const std::string& baseDir, const std::string& path) {
  if (path.empty() || path[0] == '/' || baseDir.empty()) return path;
  return baseDir + "/" + path;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "WORD REST": splits off the first blank-separated word.
void splitWord(const std::string& text, std::string& word, std::string& rest) {
  size_t blank = text.find_first_of(" \t");
  word = text.substr(0, blank);
  rest = blank == std::string::npos ? std::string() : trim(text.substr(blank));
}

// The file system image of a "squashfs" setting; `image` is set only when
// the whole file was read.
Status readImage(Env& env, const std::string& path, std::optional<std::string>& image) {
  std::string bytes;
  Status read = readWholeFile(env, path, bytes);
  if (read.isOk()) image = std::move(bytes);
  return read;
}

// What is wrong with a setting's value; the caller names where it was met.
Status badSetting(const std::string& reason) { return Status::refused("", reason); }

}  // namespace

bool isRecordName(const std::string& name) {
  return !name.empty() && name.size() <= NameFieldSize && name.find('\0') == std::string::npos;
}

Status parseRelation(const std::string& text, DependencyRef& ref) {
  std::istringstream in(text);
  std::string word;
  if (!(in >> ref.name) || !isRecordName(ref.name)) return badSetting("needs a name of 1 to 16 bytes");
  while (in >> word) {
    size_t equals = word.find('=');
    std::string key = word.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : word.substr(equals + 1);
    if (key == "min" && parseVersion(value, ref.min)) continue;
    if (key == "max" && parseVersion(value, ref.max)) continue;
    if (key == "priority" && parseSigned(value, ref.priority)) continue;
    return badSetting("\"" + word + "\" is not min=VERSION, max=VERSION or priority=NUMBER");
  }
  return Status::ok();
}

DescriptionParser::DescriptionParser(bool bundle, Env& files) : env(files) {
  result.bundle = bundle;
  result.package.sha256 = true;
}

Status DescriptionParser::applyFile(const std::string& path) {
  InputFile file(env, path);
  if (!file.is_open()) return systemError(path, "cannot open");
  std::string baseDir = directoryOf(path);
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    std::string keyword, value;
    splitWord(line, keyword, value);
    Status applied = apply(keyword, value, baseDir);
    if (!applied.isOk()) return within(path + ":" + std::to_string(number), applied);
  }
  return Status::ok();
}

Status DescriptionParser::applyOption(const std::string& keyword, const std::string& value) {
  Status applied = apply(keyword, trim(value), std::string());
  return applied.isOk() ? applied : within("--" + keyword, applied);
}

Status DescriptionParser::apply(const std::string& keyword, const std::string& value, const std::string& baseDir) {
  bool known = false;
  Status applied = applyHeaderSetting(keyword, value, known);
  if (!known) {
    applied = result.bundle ? applyBundleSetting(keyword, value, baseDir, known)
                            : applyPackageSetting(keyword, value, baseDir, known);
  }
  if (!known) applied = applyFileSetting(keyword, value, baseDir, known);
  if (!known) return badSetting("unknown setting \"" + keyword + "\"" + (result.bundle ? " for a bundle" : ""));
  return applied;
}

// Settings of the header record and the file, for packages and bundles.
Status DescriptionParser::applyHeaderSetting(const std::string& keyword, const std::string& value, bool& known) {
  known = true;
  PackageRecipe& spec = result.package;
  if (keyword == "name") {
    if (!isRecordName(value)) return badSetting("needs a name of 1 to 16 bytes");
    spec.name = value;
    nameSet = true;
  } else if (keyword == "version") {
    if (!parseVersion(value, spec.version))
      return badSetting("\"" + value + "\" is not a version (7.1.3, 7.1rc2, 0x07010303)");
    versionSet = true;
  } else if (keyword == "build-time") {
    if (!parseNumber(value, 0, spec.buildTime)) return badSetting("needs a number of seconds since 1970");
  } else if (keyword == "header-flags") {
    uint32_t flags = 0;
    if (!parseNumber(value, 0, flags)) return badSetting("needs a number");
    spec.headerFlags = flags;
  } else if (keyword == "architecture") {
    spec.architecture = value;
  } else if (keyword == "magic") {
    if (value == "recorded") {
      result.magic = PackageMagic;
    } else if (value == "unrecorded") {
      result.magic = UnrecordedPackageMagic;
    } else {
      return badSetting("needs \"recorded\" or \"unrecorded\"");
    }
  } else {
    known = false;
  }
  return Status::ok();
}

Status DescriptionParser::applyPackageSetting(const std::string& keyword, const std::string& value,
                                              const std::string& baseDir, bool& known) {
  known = true;
  PackageRecipe& spec = result.package;
  if (keyword == "note") {
    spec.note = value;
  } else if (keyword == "text24") {
    spec.text24 = value;
  } else if (keyword == "text2") {
    spec.text2 = value;
  } else if (keyword == "depends" || keyword == "provides" || keyword == "conflicts") {
    DependencyRef ref;
    Status parsed = parseRelation(value, ref);
    if (!parsed.isOk()) return parsed;
    auto& list = keyword == "depends" ? spec.deps : keyword == "provides" ? spec.provides : spec.conflicts;
    if (!list) list.emplace();
    list->push_back(ref);
  } else if (keyword == "digest") {
    if (value != "sha1" && value != "sha256") return badSetting("needs \"sha1\" or \"sha256\"");
    result.sha1 = value == "sha1";
    spec.sha256 = !result.sha1;
  } else if (keyword == "signature") {
    if (!parseSignatureKind(value, result.signature))
      return badSetting("needs \"ed25519\", \"legacy\", \"both\" or \"none\"");
  } else if (keyword == "squashfs") {
    return readImage(env, resolvePath(baseDir, value), spec.squashfsImage);
  } else {
    known = false;
  }
  return Status::ok();
}

Status DescriptionParser::applyBundleSetting(const std::string& keyword, const std::string& value,
                                             const std::string& baseDir, bool& known) {
  known = true;
  if (keyword == "member-list") {
    // "all": every member's name; "-": an empty list; else the names given.
    result.memberList.emplace();
    result.memberListAll = value == "all";
    std::istringstream in(value == "all" || value == "-" ? std::string() : value);
    std::string name;
    while (in >> name) {
      if (!isRecordName(name)) return badSetting("\"" + name + "\" is not a name of 1 to 16 bytes");
      DependencyRef ref;
      ref.name = name;
      result.memberList->push_back(ref);
    }
  } else if (keyword == "squashfs") {
    return readImage(env, resolvePath(baseDir, value), result.package.squashfsImage);
  } else {
    known = false;
  }
  return Status::ok();
}

Status DescriptionParser::applyFileSetting(const std::string& keyword, const std::string& value,
                                           const std::string& baseDir, bool& known) {
  known = !result.bundle;
  if (result.bundle) return Status::ok();
  std::vector<FileEntry>& files = result.package.files;
  std::string name, rest;
  splitWord(value, name, rest);
  if (keyword == "files") {
    return collectFileTree(env, resolvePath(baseDir, value), files);
  } else if (keyword == "file") {
    // "file NAME SOURCE": one regular file, named NAME in the package.
    FileEntry entry;
    entry.name = name;
    if (name.empty() || rest.empty()) return badSetting("needs NAME SOURCE");
    Status read = readWholeFile(env, resolvePath(baseDir, rest), entry.data);
    if (read.isOk()) files.push_back(entry);
    return read;
  } else if (keyword == "mode" || keyword == "variant") {
    FileOverride change;
    change.name = name;
    change.isMode = keyword == "mode";
    bool valid = change.isMode ? parseNumber(rest, 8, change.value) && change.value <= 0xFFFF
                               : parseNumber(rest, 10, change.value) && change.value <= 0xFF;
    if (name.empty() || !valid)
      return badSetting(change.isMode ? "needs NAME OCTAL-MODE" : "needs NAME NUMBER (0 to 255)");
    overrides.push_back(change);
  } else {
    known = false;
  }
  return Status::ok();
}

Status DescriptionParser::finish() {
  if (!nameSet || !versionSet)
    return badSetting(std::string("the description needs ") + (!nameSet ? "a name" : "a version"));
  for (const FileOverride& change : overrides) {
    bool found = false;
    for (FileEntry& entry : result.package.files) {
      if (entry.name != change.name) continue;
      found = true;
      if (!change.isMode) {
        entry.variant = static_cast<uint8_t>(change.value);
      } else if (change.value <= 07777) {
        entry.mode = static_cast<uint16_t>((entry.mode & FileTypeMask) | change.value);
      } else {
        entry.mode = static_cast<uint16_t>(change.value);
      }
    }
    if (!found) return Status::refused(change.isMode ? "mode" : "variant", "no file named \"" + change.name + "\"");
  }
  result.package.signatureLength = signatureLengthOf(result.signature);
  result.package.withSignature = result.signature != SignatureKind::None;
  return Status::ok();
}

}  // namespace installer
