#include "staging/temporary_files.h"

#include <cctype>
#include <memory>

#include "base/path_text.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"
#include "staging/file_replacement.h"
#include "staging/staged_files.h"

namespace installer {

namespace {

constexpr size_t randomLength = 6;
constexpr size_t namesPerRecord = 32;
// A registry lists at most what one run makes, a name per line.
constexpr uint64_t registryLimit = 8 * 1024 * 1024;
constexpr char nameCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// `name` is `stem` followed by six letters or digits: the temporary name
// that replaceFile or createTemporary made for it.
bool isReplacementOf(const std::string& name, const std::string& stem) {
  if (name.size() != stem.size() + randomLength || name.compare(0, stem.size(), stem) != 0) return false;
  for (size_t i = stem.size(); i < name.size(); ++i) {
    if (!isWordCharacter(name[i])) return false;
  }
  return true;
}

bool isUnder(const std::string& path, const char* directory) {
  std::string prefix = std::string(directory) + "/";
  return path == directory || path.compare(0, prefix.size(), prefix) == 0;
}

// A recorded name the sweep may act on: a temporary name in a clean
// absolute path on the flash, in "/ram" or in "/tmp". Anything else in a
// registry is not the installer's and is passed over.
bool isSweepable(const std::string& path) {
  if (!isTemporaryName(path)) return false;
  for (const char* root : {paths::flashDir, "/ram/", "/tmp/"}) {
    if (isCleanPathBelow(path, root)) return true;
  }
  return false;
}

std::vector<std::string> recordedNames(Env& env, const char* registry) {
  std::vector<std::string> names;
  InputFile in(env, registry, ReadLimits{false, true, registryLimit});
  std::string line;
  while (std::getline(in, line)) {
    if (isSweepable(line)) names.push_back(line);
  }
  return names;
}

uint64_t nextRandom(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

Status appendRecord(Env& env, const char* registry, const std::string& lines) {
  bool onFlash = std::string(registry) == paths::temporaryRegistry;
  bool existed = env.exists(registry);
  if (onFlash && !existed) makeDirectories(env, parentDirectory(registry));
  std::unique_ptr<WritableFile> file;
  Status done = env.openWritable(registry, WriteMode::Append, 0600, file);
  if (done.isOk()) done = file->append(lines.data(), lines.size());
  // The names must be on the storage before any file of theirs is.
  if (done.isOk() && onFlash) done = file->sync();
  if (done.isOk()) done = file->close();
  if (done.isOk() && onFlash && !existed) done = env.syncPath(parentDirectory(registry));
  return done;
}

// Rewrites a registry to hold only `names`, or removes it.
void rewriteRegistry(Env& env, const char* registry, const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  bool onFlash = std::string(registry) == paths::temporaryRegistry;
  if (!text.empty()) {
    static_cast<void>(replaceFile(env, registry, text));  // a longer registry only removes more of ours
  } else if (env.removeFile(registry).isOk() && onFlash) {
    static_cast<void>(env.syncPath(parentDirectory(registry)));  // best effort: removing is repeated
  }
}

bool isRegularFile(Env& env, const std::string& path) {
  FileStatus info;
  return env.linkStatus(path, info).isOk() && info.type == FileType::Regular;
}

size_t sweepRegistry(Env& env, const char* registry, const std::set<std::string>& pending,
                     const std::set<std::string>& spare) {
  if (!env.exists(registry)) return 0;
  size_t removed = 0;
  std::vector<std::string> kept;
  for (const std::string& name : recordedNames(env, registry)) {
    if (!isRegularFile(env, name) || spare.count(name) != 0) continue;
    if (pending.count(name) != 0) {
      kept.push_back(name);
    } else if (env.removeFile(name).isOk()) {
      ++removed;
    }
  }
  rewriteRegistry(env, registry, kept);
  return removed;
}

// Removes the files of `directory` whose names `leftover` picks; returns how many.
template <class Pick>
size_t removeIn(Env& env, const std::string& directory, Pick leftover) {
  std::vector<std::string> names;
  if (!env.listDirectory(directory, names).isOk()) return 0;
  size_t removed = 0;
  for (const std::string& name : names) {
    std::string path = directory + "/" + name;
    if (leftover(name) && isRegularFile(env, path) && env.removeFile(path).isOk()) ++removed;
  }
  return removed;
}

// The half-written replacements that replaceFile leaves when it is cut short.
size_t removeReplacements(Env& env) {
  size_t removed = 0;
  for (const char* file : {paths::commitJournal, paths::temporaryRegistry, paths::manifest,
                           paths::volatileTemporaryRegistry, paths::manifestNotes}) {
    std::string stem = baseName(file) + ".";
    removed +=
        removeIn(env, parentDirectory(file), [&stem](const std::string& name) { return isReplacementOf(name, stem); });
  }
  return removed;
}

}  // namespace

bool isTemporaryName(const std::string& path) { return isReplacementOf(baseName(path), "tmp"); }

bool isVolatilePath(const std::string& path) { return isUnder(path, paths::ramDir) || isUnder(path, paths::tmpDir); }

const char* registryFor(const std::string& directory) {
  // Without "/ram" (temporary files then go to "/tmp") the names are kept on flash.
  return isUnder(directory, paths::ramDir) ? paths::volatileTemporaryRegistry : paths::temporaryRegistry;
}

std::string TemporaryRegistry::newName(Env& env, const std::string& directory) {
  // Names need not be unpredictable, only new: one that a file holds is passed over.
  if (generator == 0) generator = uint64_t{env.ticks()} << 20;
  std::string name;
  for (int attempt = 0; attempt < 64; ++attempt) {
    name = directory + "/tmp";
    uint64_t bits = nextRandom(generator);
    for (size_t i = 0; i < randomLength; ++i, bits /= 62) name += nameCharacters[bits % 62];
    FileStatus info;
    if (!env.linkStatus(name, info).isOk()) break;
  }
  return name;
}

Status TemporaryRegistry::recordBatch(Env& env, const std::string& directory) {
  std::vector<std::string>& names = spare[directory];
  std::string lines;
  for (size_t i = 0; i < namesPerRecord; ++i) {
    names.push_back(newName(env, directory));
    lines += names.back() + "\n";
  }
  Status recorded = appendRecord(env, registryFor(directory), lines);
  if (!recorded.isOk()) names.clear();
  return recorded;
}

Status TemporaryRegistry::reserve(Env& env, const std::string& directory, std::string& name) {
  std::vector<std::string>& names = spare[directory];
  if (names.empty()) {
    Status recorded = recordBatch(env, directory);
    if (!recorded.isOk()) return recorded;
  }
  anyRecorded = true;
  name = names.front();
  names.erase(names.begin());
  return Status::ok();
}

size_t removeLeftovers(Env& env, const std::set<std::string>& pending, const std::set<std::string>& spare) {
  size_t removed = sweepRegistry(env, paths::volatileTemporaryRegistry, pending, spare);
  removed += sweepRegistry(env, paths::temporaryRegistry, pending, spare);
  return removed + removeReplacements(env);
}

}  // namespace installer
