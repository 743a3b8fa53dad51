#include "pdb/package_state.h"

#include <charconv>

#include "package/package_header.h"
#include "pdb/schedule.h"
#include "platform/input_file.h"

namespace installer {

namespace {

// The files of a package's database directory are plain files the
// installer wrote: a link, a FIFO or a device there is refused, and none is
// read past its bound. A word or a line: 4 KiB. A relation list: 1 MiB, the
// bound of a header's text parts.
constexpr ReadLimits lineFile{false, true, 4096};
constexpr ReadLimits relationList{false, true, MaxHeaderTextLength};

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
  InputFile in(env, dir + "version", lineFile);
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
  InputFile in(env, dir + "bundle", lineFile);
  std::string word;
  if (!(in >> word)) return;
  package.bundle = DependencyRef();
  package.bundle.name = word;
  package.pending = PendingAction::Uninstall;
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
  package.filesUnread = !package.isBundle;
}

// A state file marks the state by being there, whatever it is (a directory
// too), as long as it can be opened; opening never blocks and reads nothing.
bool canBeOpened(Env& env, const std::string& path) {
  std::unique_ptr<ReadableFile> file;
  return env.openReadable(path, ReadLimits{false, false, UINT64_MAX}, file).isOk();
}

void readStateFiles(Env& env, InstalledPackage& package) {
  std::string dir = packageDir(package);
  package.byUser = false;
  package.disabled = canBeOpened(env, dir + "disabled");
  if (package.disabled) {
    // Only a regular file within its bound has a first line to read.
    InputFile disabled(env, dir + "disabled", lineFile);
    std::string line;
    std::getline(disabled, line);
    package.byUser = line != "auto";
    return;
  }
  if (canBeOpened(env, dir + "enabled")) package.byUser = true;
}

}  // namespace

bool readRefList(Env& env, const std::string& path, std::vector<DependencyRef>& list, bool withPriority) {
  InputFile in(env, path, relationList);
  for (;;) {
    DependencyRef ref;
    if (!(in >> ref.name)) return true;
    if (!readNumber(in, ref.min) || !readNumber(in, ref.max)) return false;
    if (withPriority && !readNumber(in, ref.priority)) return false;
    list.push_back(ref);
  }
}

void readPackageState(Env& env, InstalledPackage& package) {
  if (package.version == 0) readMetaFiles(env, package);
  readStateFiles(env, package);
  if (!isPlaceholder(package)) readSchedule(env, package);
}

}  // namespace installer
