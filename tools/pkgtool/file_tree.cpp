#include "file_tree.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "platform/input_file.h"
#include "tool_errors.h"

namespace installer {

namespace {

constexpr uint32_t typeBits = 0170000, regularBits = 0100000, directoryBits = 040000, linkBits = 0120000;

Status listDirectory(Env& env, const std::string& path, std::vector<std::string>& names) {
  Status listed = env.listDirectory(path, names);
  if (!listed.isOk()) return failedTo("cannot read directory", listed);
  std::sort(names.begin(), names.end());
  return Status::ok();
}

Status readLink(Env& env, const std::string& path, std::string& target) {
  Status read = env.readSymlink(path, target);
  if (read.is(Status::Kind::NameTooLong)) return Status::refused(path, "cannot read link: target too long");
  return failedTo("cannot read link", read);
}

Status addEntry(Env& env, const std::string& path, const std::string& name, std::vector<FileEntry>& entries);

Status addTree(Env& env, const std::string& directory, const std::string& prefix, std::vector<FileEntry>& entries) {
  std::vector<std::string> names;
  Status listed = listDirectory(env, directory, names);
  if (!listed.isOk()) return listed;
  for (const std::string& name : names) {
    Status added = addEntry(env, directory + "/" + name, prefix + name, entries);
    if (!added.isOk()) return added;
  }
  return Status::ok();
}

// The entry's data: a regular file's contents, a link's target, nothing
// for a directory.
Status readEntryData(Env& env, const std::string& path, uint32_t type, std::string& data) {
  if (type == regularBits) return readWholeFile(env, path, data);
  if (type == linkBits) return readLink(env, path, data);
  if (type == directoryBits) return Status::ok();
  return Status::refused(path, "neither a regular file, a directory nor a symbolic link");
}

Status addEntry(Env& env, const std::string& path, const std::string& name, std::vector<FileEntry>& entries) {
  FileStatus status;
  Status found = env.linkStatus(path, status);
  if (!found.isOk()) return found;
  if (name.size() > std::numeric_limits<uint16_t>::max()) {
    return Status::refused(path, "name too long for a file record");
  }
  FileEntry entry;
  entry.name = name;
  entry.mode = static_cast<uint16_t>(status.mode);
  uint32_t type = status.mode & typeBits;
  Status read = readEntryData(env, path, type, entry.data);
  if (!read.isOk()) return read;
  entries.push_back(entry);
  return type == directoryBits ? addTree(env, path, name + "/", entries) : Status::ok();
}

}  // namespace

Status collectFileTree(Env& env, const std::string& directory, std::vector<FileEntry>& entries) {
  FileStatus status;
  if (!env.status(directory, status).isOk() || status.type != FileType::Directory) {
    return Status(Status::Kind::NotDirectory, directory, "not a directory");
  }
  return addTree(env, directory, "", entries);
}

Status readWholeFile(Env& env, const std::string& path, std::string& data) {
  InputFile file(env, path);
  if (!file.is_open()) return systemError(path, "cannot open");
  data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) return Status::ioError(path, "read error");
  if (data.size() > std::numeric_limits<uint32_t>::max()) {
    return Status::refused(path, "larger than a package can carry");
  }
  return Status::ok();
}

}  // namespace installer
