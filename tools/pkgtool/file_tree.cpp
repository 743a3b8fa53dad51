#include "file_tree.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "platform/input_file.h"

namespace installer {

namespace {

constexpr uint32_t typeBits = 0170000, regularBits = 0100000, directoryBits = 040000, linkBits = 0120000;

bool listDirectory(Env& env, const std::string& path, std::vector<std::string>& names, std::string& error) {
  Status listed = env.listDirectory(path, names);
  if (!listed.isOk()) {
    error = path + ": cannot read directory: " + listed.reason();
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

bool readLink(Env& env, const std::string& path, std::string& target, std::string& error) {
  Status read = env.readSymlink(path, target);
  if (!read.isOk()) {
    error = path + ": cannot read link: " + (read.is(Status::Kind::NameTooLong) ? "target too long" : read.reason());
    return false;
  }
  return true;
}

bool addEntry(Env& env, const std::string& path, const std::string& name, std::vector<FileEntry>& entries,
              std::string& error);

bool addTree(Env& env, const std::string& directory, const std::string& prefix, std::vector<FileEntry>& entries,
             std::string& error) {
  std::vector<std::string> names;
  if (!listDirectory(env, directory, names, error)) return false;
  for (const std::string& name : names) {
    if (!addEntry(env, directory + "/" + name, prefix + name, entries, error)) return false;
  }
  return true;
}

bool addEntry(Env& env, const std::string& path, const std::string& name, std::vector<FileEntry>& entries,
              std::string& error) {
  FileStatus status;
  Status found = env.linkStatus(path, status);
  if (!found.isOk()) {
    error = path + ": " + found.reason();
    return false;
  }
  if (name.size() > std::numeric_limits<uint16_t>::max()) {
    error = path + ": name too long for a file record";
    return false;
  }
  FileEntry entry;
  entry.name = name;
  entry.mode = static_cast<uint16_t>(status.mode);
  uint32_t type = status.mode & typeBits;
  if (type == regularBits) {
    if (!readWholeFile(env, path, entry.data, error)) return false;
  } else if (type == linkBits) {
    if (!readLink(env, path, entry.data, error)) return false;
  } else if (type != directoryBits) {
    error = path + ": neither a regular file, a directory nor a symbolic link";
    return false;
  }
  entries.push_back(entry);
  return type != directoryBits || addTree(env, path, name + "/", entries, error);
}

}  // namespace

bool collectFileTree(Env& env, const std::string& directory, std::vector<FileEntry>& entries, std::string& error) {
  FileStatus status;
  if (!env.status(directory, status).isOk() || status.type != FileType::Directory) {
    error = directory + ": not a directory";
    return false;
  }
  return addTree(env, directory, "", entries, error);
}

bool readWholeFile(Env& env, const std::string& path, std::string& data, std::string& error) {
  InputFile file(env, path);
  if (!file.is_open()) {
    error = path + ": cannot open: " + file.status().reason();
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
