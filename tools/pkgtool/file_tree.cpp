#include "file_tree.h"
#include "platform/input_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace installer {

namespace {

bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    error = path + ": cannot read directory: " + std::strerror(errno);
    return false;
  }
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

bool readLink(const std::string& path, std::string& target, std::string& error) {
  std::vector<char> buffer(4096);
  ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0 || static_cast<size_t>(length) == buffer.size()) {
    error = path + ": cannot read link: " + (length < 0 ? std::strerror(errno) : "target too long");
    return false;
  }
  target.assign(buffer.data(), static_cast<size_t>(length));
  return true;
}

bool addEntry(const std::string& path, const std::string& name, std::vector<FileEntry>& entries, std::string& error);

bool addTree(const std::string& directory, const std::string& prefix, std::vector<FileEntry>& entries,
             std::string& error) {
  std::vector<std::string> names;
  if (!listDirectory(directory, names, error)) return false;
  for (const std::string& name : names) {
    if (!addEntry(directory + "/" + name, prefix + name, entries, error)) return false;
  }
  return true;
}

bool addEntry(const std::string& path, const std::string& name, std::vector<FileEntry>& entries, std::string& error) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (name.size() > std::numeric_limits<uint16_t>::max()) {
    error = path + ": name too long for a file record";
    return false;
  }
  FileEntry entry;
  entry.name = name;
  entry.mode = static_cast<uint16_t>(status.st_mode);
  if (S_ISREG(status.st_mode)) {
    if (!readWholeFile(path, entry.data, error)) return false;
  } else if (S_ISLNK(status.st_mode)) {
    if (!readLink(path, entry.data, error)) return false;
  } else if (!S_ISDIR(status.st_mode)) {
    error = path + ": neither a regular file, a directory nor a symbolic link";
    return false;
  }
  entries.push_back(entry);
  return !S_ISDIR(status.st_mode) || addTree(path, name + "/", entries, error);
}

}  // namespace

bool collectFileTree(const std::string& directory, std::vector<FileEntry>& entries, std::string& error) {
  struct stat status;
  if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    error = directory + ": not a directory";
    return false;
  }
  return addTree(directory, "", entries, error);
}

bool readWholeFile(const std::string& path, std::string& data, std::string& error) {
  InputFile file(Env::posix(), path);
  if (!file.is_open()) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = path + ": read error";
    return false;
  }
  if (data.size() > std::numeric_limits<uint32_t>::max()) {
    error = path + ": larger than a package can carry";
    return false;
  }
  return true;
}

}  // namespace installer
