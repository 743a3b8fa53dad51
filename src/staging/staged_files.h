// StagedFiles: every file change of a run, keyed by destination path.
//
// Nothing is changed under its final name while a run goes on: new contents
// go to a temporary file at once, and each change (a file moved or written
// into place, a link, a removal) becomes one entry here. At the end of the
// run the set is committed, cancelled, or written as a manifest for later.
// The set owns its entries and, of the files on disk, only the temporary
// file of each Write entry.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>

class InstalledPackage;

enum class StagedKind : uint32_t {
  Move = 0,     // rename target to the path
  Write = 1,    // rename the set's temporary file `target` to the path
  Symlink = 3,  // the path becomes a symbolic link with text `target`
  Delete = 4,   // remove the path
  Copy = 5,     // made during a commit when a rename crosses file systems
};

struct StagedOp {
  StagedKind kind = StagedKind::Delete;
  std::string target;
};

class StagedFiles {
 public:
  // Ordered by byte comparison; a proper prefix sorts first.
  std::map<std::string, StagedOp> entries;

  size_t size() const { return entries.size(); }
  bool empty() const { return entries.empty(); }
  const StagedOp* find(const std::string& path) const;
};

// Inserts or replaces the entry of `path`; a replaced Write loses its
// temporary file.
void stageRecord(StagedFiles& staged, const std::string& path, StagedKind kind, const std::string& target);
void stageMove(StagedFiles& staged, const std::string& from, const std::string& to);
void stageSymlink(StagedFiles& staged, const std::string& linkText, const std::string& linkPath);
// Stages the removal of an existing path (stat follows links); for a path
// that does not exist, drops any entry of it instead.
void stageDelete(StagedFiles& staged, const std::string& path);
// Drops the entry of `path`, deleting its temporary file if it is a Write.
void unstage(StagedFiles& staged, const std::string& path);

// Opens a new temporary file, recorded as the Write entry of `path`. The
// temporary file goes on the destination's own file system when it has
// room for `sizeHint` (0: unknown) plus 64 KiB, else in "/ram" (or "/tmp"
// without "/ram"). `mode`, when not 0, is applied with chmod. When no
// temporary file can be made, the stream is not open, errno tells why, and
// nothing is recorded.
std::ofstream createStagedFile(StagedFiles& staged, const std::string& path, uint32_t sizeHint, uint32_t mode);

// Stages the removal of everything `package` put on flash: its files, its
// database directory and image, and the boot image it owns. Clears its
// `files` and its pending action.
void stagePackageRemoval(StagedFiles& staged, InstalledPackage& package);

// Deletes the temporary file of every Write entry, then empties the set.
void cancelStaged(StagedFiles& staged);

// The path without trailing "/", passed through dirname: "/a/b/" -> "/a",
// "name" -> ".", "/" -> ".".
std::string parentDirectory(const std::string& path);
// mkdir -p with mode 0777 before the umask; errors are not reported.
void makeDirectories(const std::string& path);
