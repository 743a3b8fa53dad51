#include "pdb/package_state.h"

#include <charconv>

#include "pdb/schedule.h"
#include "platform/input_file.h"

namespace installer {

namespace {

// Numbers are whole white-space-delimited words: "5x", "+5" or "-5" in an
// unsigned field make the entry malformed instead of being half read.
template <class Number>
bool readNumber(std::istream& in, Number& value) {
  std::string word;
  if (!(in >> word)) return false;
  const char* end = word.data() + word.size();
  auto result = std::from_chars(word.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

bool readVersion(Env& env, InstalledPackage& package, const std::string& dir) {
  InputFile in(env, dir + "version");
  PackageVersion version = 0;
  uint32_t buildTime = 0;
  if (!readNumber(in, version) || !readNumber(in, buildTime)) return false;
  package.version = version;
  package.buildTime = buildTime;
  return true;
}

// A sub-package restored without its bundle's image: the bundle no longer
// lists it, so it is to be removed.
void readBundle(Env& env, InstalledPackage& package, const std::string& dir) {
  InputFile in(env, dir + "bundle");
  std::string word;
  if (!(in >> word)) return;
  package.bundle = DependencyRef();
  package.bundle.name = word;
  package.pending = PendingAction::Uninstall;
}

void readFiles(Env& env, InstalledPackage& package, const std::string& dir) {
  InputFile in(env, dir + "files");
  std::string line;
  while (std::getline(in, line)) {
    if (!isAcceptableFileLine(line)) continue;
    package.files.insert(line[0] == '/' ? line : "/" + line);
  }
}

void readMetaFiles(Env& env, InstalledPackage& package) {
  std::string dir = packageDir(package);
  bool complete = readVersion(env, package, dir);
  complete = readRefList(env, dir + "deps", package.deps, false) && complete;
  complete = readRefList(env, dir + "provides", package.provides, true) && complete;
  complete = readRefList(env, dir + "conflicts", package.conflicts, false) && complete;
  if (!complete) package.pending = PendingAction::Uninstall;
  readBundle(env, package, dir);
  package.isBundle = !env.exists(dir + "files");
  if (!package.isBundle) readFiles(env, package, dir);
}

void readStateFiles(Env& env, InstalledPackage& package) {
  std::string dir = packageDir(package);
  package.byUser = false;
  InputFile disabled(env, dir + "disabled");
  package.disabled = disabled.is_open();
  if (package.disabled) {
    std::string line;
    std::getline(disabled, line);
    package.byUser = line != "auto";
    return;
  }
  InputFile enabled(env, dir + "enabled");
  if (enabled.is_open()) package.byUser = true;
}

}  // namespace

bool readRefList(Env& env, const std::string& path, std::vector<DependencyRef>& list, bool withPriority) {
  InputFile in(env, path);
  for (;;) {
    DependencyRef ref;
    if (!(in >> ref.name)) return true;
    if (!readNumber(in, ref.min) || !readNumber(in, ref.max)) return false;
    if (withPriority && !readNumber(in, ref.priority)) return false;
    list.push_back(ref);
  }
}

bool isAcceptableFileLine(const std::string& line) {
  bool hasName = false;
  size_t start = 0;
  while (start <= line.size()) {
    size_t end = line.find('/', start);
    if (end == std::string::npos) end = line.size();
    std::string component = line.substr(start, end - start);
    if (component == "..") return false;
    if (!component.empty()) hasName = true;
    start = end + 1;
  }
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return hasName;
}

void readPackageState(Env& env, InstalledPackage& package) {
  if (package.version == 0) readMetaFiles(env, package);
  readStateFiles(env, package);
  if (!isPlaceholder(package)) readSchedule(env, package);
}

}  // namespace installer
