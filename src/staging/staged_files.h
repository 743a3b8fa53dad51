// StagedFiles: every file change of a run, keyed by destination path.
//
// Nothing is changed under its final name while a run goes on: new contents
// go to a temporary file at once, and each change (a file moved or written
// into place, a link, a removal) becomes one entry here. At the end of the
// run the set is committed, cancelled, or written as a manifest for later.
// The set owns its entries and, of the files on disk, only the temporary
// file of each Write entry: when the set is destroyed without having been
// committed or handed to a manifest (release()), it deletes them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/package_info.h"
#include "platform/env.h"
#include "staging/temporary_files.h"

namespace installer {

enum class StagedKind : uint32_t {
  Move = 0,     // rename target to the path
  Write = 1,    // rename the set's temporary file `target` to the path
  Symlink = 3,  // the path becomes a symbolic link with text `target`
  Delete = 4,   // remove the path
  Copy = 5,     // made during a commit when a rename crosses file systems
};

// Where a staged file's contents came from: record `record` (counted from
// 0) of the payload of package `member` (0 for a stand-alone package or a
// bundle's first member) in the package file `packageFiles[file]` of the
// set. A commit cut short by a power cut makes the contents again from
// there when their temporary file was in "/ram" and went with it.
struct FileOrigin {
  int file = -1;  // -1: no package file on flash holds them
  uint32_t member = 0;
  uint32_t record = 0;
};

// Where in the package being read a file's record lies.
struct RecordPlace {
  uint32_t member = 0;
  uint32_t record = 0;
};

struct StagedOp {
  StagedKind kind = StagedKind::Delete;
  std::string target;
  FileOrigin origin;  // Write entries only
};

class StagedFiles {
 public:
  explicit StagedFiles(Env& env) : environment(env) {}
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  Env& env() const { return environment; }

  // Ordered by byte comparison; a proper prefix sorts first.
  std::map<std::string, StagedOp> entries;

  size_t size() const { return entries.size(); }
  bool empty() const { return entries.empty(); }
  const StagedOp* find(const std::string& path) const;

  // The temporary files are no longer the set's to delete: they have been
  // moved into place, or a manifest names them.
  void release() { released = true; }

  // The names of the temporary files the set makes.
  TemporaryRegistry temporaries;

  // The package files on flash whose contents the set stages, and the one
  // being read now (-1: none, as for standard input that is not kept).
  std::vector<std::string> packageFiles;
  int currentPackageFile = -1;
  // From now on, files staged come from the package file `path`; an empty
  // path: from nothing that lasts.
  void readingPackageFile(const std::string& path);
  // The package files will not be kept: no file can be made again from them.
  void forgetPackageFiles();

 private:
  Env& environment;
  bool released = false;
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
// temporary file goes in the nearest existing directory above the
// destination when its file system has room for `sizeHint` (0: unknown)
// plus 64 KiB, else in "/ram" (or "/tmp" without "/ram"). `mode`, when not
// 0, is applied with chmod. `place`, when given, is where the contents lie
// in the package file being read. `file` receives it; nothing is recorded
// when no file could be made: NotDirectory when a file stands above the
// destination that the set does not remove, or that the set puts there;
// IsDirectory when the set puts files below the destination.
Status createStagedFile(StagedFiles& staged, const std::string& path, uint32_t sizeHint, uint32_t mode,
                        std::unique_ptr<WritableFile>& file, const RecordPlace* place = nullptr);
// A new temporary file in `directory`, recorded in the set's registry
// first, in `file` and `name`. It belongs to the caller.
Status makeTemporaryIn(StagedFiles& staged, const std::string& directory, std::string& name,
                       std::unique_ptr<WritableFile>& file);

// Stages `path` as an empty file (a marker for the boot scripts). Fails,
// with nothing staged, when its temporary file could not be made.
Status stageEmptyFile(StagedFiles& staged, const std::string& path);

// Stages the removal of everything `package` put on flash: its files (read
// from its database directory first when the load left them there), its
// database directory and image, and the boot image it owns. Clears its
// `files` and its pending action.
void stagePackageRemoval(StagedFiles& staged, InstalledPackage& package);

// The staged moves that make a package file a package's database image
// `imagePath`, or, with `boot`, the boot image "/flash/bootimage" with the
// database image a link to it.
void stageImage(StagedFiles& staged, const std::string& packageFile, const std::string& imagePath, bool boot);

// Deletes the temporary file of every Write entry, then empties the set.
void cancelStaged(StagedFiles& staged);

// mkdir -p with mode 0777 before the umask; errors are not reported.
void makeDirectories(Env& env, const std::string& path);

// The nearest directory at or above the parent of `path` that `accepts`;
// empty when none does, up to "/" or ".".
std::string nearestAncestor(const std::string& path, const std::function<bool(const std::string&)>& accepts);

}  // namespace installer
