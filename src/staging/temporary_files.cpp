#include "staging/temporary_files.h"

#include <cctype>
#include <vector>

#include "base/path_text.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"

namespace installer {

namespace {

constexpr size_t randomLength = 6;

bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `name` is `stem` followed by six letters or digits: the temporary name
// that replaceFile or createStagedFile made for it.
bool isReplacementOf(const std::string& name, const std::string& stem) {
  if (name.size() != stem.size() + randomLength || name.compare(0, stem.size(), stem) != 0) return false;
  for (size_t i = stem.size(); i < name.size(); ++i) {
    if (!isWordCharacter(name[i])) return false;
  }
  return true;
}

std::vector<std::string> registeredDirectories(Env& env) {
  std::vector<std::string> directories;
  // A few directories; 1 MiB is far more than any run records.
  InputFile in(env, paths::temporaryRegistry, ReadLimits{false, true, 1024 * 1024});
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) directories.push_back(line);
  }
  return directories;
}

// Removes the files of `directory` that `leftover` picks; returns how many.
template <class Pick>
size_t removeIn(Env& env, const std::string& directory, Pick leftover) {
  std::vector<std::string> names;
  if (!env.listDirectory(directory, names)) return 0;
  size_t removed = 0;
  std::string prefix = directory + "/";
  for (const std::string& name : names) {
    FileStatus info;
    std::string path = prefix + name;
    if (!leftover(name, path) || !env.linkStatus(path, info) || info.type == FileType::Directory) continue;
    if (env.removeFile(path)) ++removed;
  }
  return removed;
}

void dropRegistry(Env& env) {
  if (env.removeFile(paths::temporaryRegistry)) {
    static_cast<void>(env.syncPath(parentDirectory(paths::temporaryRegistry)));  // best effort
  }
}

}  // namespace

bool isTemporaryName(const std::string& path) { return isReplacementOf(baseName(path), "tmp"); }

bool TemporaryRegistry::record(Env& env, const std::string& directory) {
  if (recorded.count(directory) != 0) return true;
  std::unique_ptr<WritableFile> file = env.openWritable(paths::temporaryRegistry, WriteMode::Append, 0600);
  std::string line = directory + "\n";
  if (!file || !file->append(line.data(), line.size()) || !file->sync() || !file->close()) return false;
  recorded.insert(directory);
  return true;
}

void forgetTemporaries(Env& env) {
  // A pending manifest may name temporary files of an earlier run; the next
  // run decides about them.
  if (env.exists(paths::manifest)) return;
  dropRegistry(env);
}

size_t removeLeftovers(Env& env, const std::set<std::string>& keep) {
  size_t removed = 0;
  bool needed = false;
  for (const std::string& directory : registeredDirectories(env)) {
    removed += removeIn(env, directory, [&](const std::string& name, const std::string& path) {
      if (!isTemporaryName(name)) return false;
      if (keep.count(path) == 0) return true;
      needed = true;
      return false;
    });
  }
  for (const char* file : {paths::manifest, paths::commitJournal}) {
    std::string stem = baseName(file) + ".";
    removed += removeIn(env, parentDirectory(file),
                        [&stem](const std::string& name, const std::string&) { return isReplacementOf(name, stem); });
  }
  if (!needed) dropRegistry(env);
  return removed;
}

}  // namespace installer
