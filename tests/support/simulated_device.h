// SimulatedDevice: the router's storage in memory, with the mounts, the
// space and inode limits and the power cuts of the real thing, for the tests
// that must show the commit survives a cut at any point.
//
// Each mount is a file system of its own: its own device number and inode
// numbers (kept through renames, never reused), its own blocks and inodes
// (statfs reports them), EXDEV for a rename out of it. A file takes its
// size in whole blocks, a directory one block, a link none, and each one
// inode: a write that does not fit fails with ENOSPC and writes nothing, as
// does a new name with no inode left or a directory with no block left. A
// file unlinked while open no longer counts; one with another name left (a
// hard link) still does. A RAM disk mount loses
// everything below its mount point at a power cut.
//
// What survives a power cut follows a flash file system's rules, no
// kinder: a file's data and mode survive as of its last fsync (a file never
// synced comes back empty); a change of names (a file created, mkdir,
// rmdir, unlink, symlink, a rename with the file it replaces) survives
// once every directory it touched was fsynced after it, or everything was
// synced (a directory whose removal is durable takes the changes made in
// it along: no file system shows them once it is gone). The device keeps
// the names as of the last point where everything was durable and a log
// of the changes since; a power cut replays the changes it keeps onto that
// base, and a kept change that cannot be made any more (its source gone,
// its name taken, its directory missing) is dropped as well, as no real
// file system could show it.
//
// A run that dies without a power cut is crashAt(): from
// the n-th storage-changing call on, every such call fails with EIO and
// changes nothing. revive() and powerCut() start the next run: counters
// and faults cleared, files and locks of the dead run closed (using them
// fails with EIO), the root back at "/".
//
// Paths resolve as the kernel resolves them (see ScratchEnv; the walk is
// shared); permissions are never checked, the umask is 022. The setting-up
// and looking functions work outside the model: on the device's own root
// whatever the run chrooted into, not counted, not subject to faults, and
// what they set up is durable at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"

namespace installer {

// The kinds of call failAt() counts, each on its own.
enum class EnvCall {
  OpenRead,
  Read,
  OpenWrite,  // openWritable and createTemporary
  Write,
  Sync,  // WritableFile::sync, syncPath and syncAll
  Rename,
  RemoveFile,
  RemoveDirectory,
  MakeDirectory,
  Symlink,
  ChangeMode,
  Count,  // the number of kinds, not a kind
};

class SimulatedDevice : public Env {
 public:
  struct Mount {
    std::string prefix;  // "/", "/flash", "/ram": the longest prefix that matches owns a path
    uint64_t blockSize = 4096;
    uint64_t blocks = 1 << 20;     // capacity in blocks
    uint64_t inodes = 0;           // 0: no limit (statfs then reports 0 total and 0 free)
    bool volatileStorage = false;  // a RAM disk: emptied at a power cut
  };
  // The mount points are made as directories (0755). A missing "/" is
  // added with the default figures. The device must outlive the files and
  // locks it hands out.
  explicit SimulatedDevice(std::vector<Mount> mounts);
  ~SimulatedDevice() override;
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  // Setting up. addFile makes the directories above the file (0755) and
  // replaces the contents of a file already there. False (errno) when
  // something else is in the way or the space runs out.
  [[nodiscard]] bool addFile(const std::string& path, const std::string& contents, uint32_t mode = 0644);
  [[nodiscard]] bool addDirectories(const std::string& path);
  [[nodiscard]] bool addSymlink(const std::string& path, const std::string& target);
  // A second name for the file at `existing` (no links followed), on its
  // file system; its directory must exist.
  [[nodiscard]] bool addHardLink(const std::string& path, const std::string& existing);
  // A FIFO, which a reader of regular files must not open.
  [[nodiscard]] bool addSpecial(const std::string& path);
  // Removes what is at `path` (no link followed), a directory with all
  // below it; nothing there (nor above) is fine. False (EBUSY) for a mount
  // point or a directory above one.
  [[nodiscard]] bool removeTree(const std::string& path);
  // Sets the capacity of the mount at `mountPrefix` so that exactly
  // `blocks` blocks are free now.
  void leaveFree(const std::string& mountPrefix, uint64_t blocks);
  void setVariable(const std::string& name, const std::string& value) { variables[name] = value; }
  void unsetVariable(const std::string& name) { variables.erase(name); }

  // Looking. tree() has one line per entry below `under`, sorted by path:
  //   a directory  "PATH/ MODE"
  //   a link       "PATH -> TARGET"
  //   a file       "PATH MODE CONTENTS"
  //   a FIFO       "PATH special"
  // MODE is the permissions in octal ("644"); CONTENTS the file in quotes
  // with C escapes when it has at most 64 bytes, else "<N bytes sha256:X>"
  // with the first 16 hex digits of its SHA-256. `under` is taken as
  // written, no links followed; mounts are crossed.
  std::string tree(const std::string& under = "/") const;
  // The contents of a regular file (links followed).
  [[nodiscard]] bool read(const std::string& path, std::string& contents) const;
  // Whether something, a dangling link too, is at `path`.
  bool has(const std::string& path) const;

  // Faults. The n-th call of `call` (1 is the first of the run) fails with
  // the errno value `error`; 0 fails none. Writes, syncs and reads through
  // the files the device handed out count as calls too.
  void failAt(EnvCall call, size_t n, int error);
  size_t calls(EnvCall call) const { return counts[static_cast<size_t>(call)]; }
  void crashAt(size_t n) { crashPoint = n; }
  size_t changes() const { return changeCount; }
  // Changes of names on lasting storage that a power cut now could lose.
  size_t unsyncedChanges() const;

  enum class Loss {
    NothingUnsynced,      // every change of names survives, only unsynced data is lost
    EveryUnsyncedChange,  // every change of names not yet durable is lost
    OneUnsyncedChange,    // only the unsynced change `which` (0: the oldest; none past the last) is lost
  };
  void powerCut(Loss loss, size_t which = 0);
  // The run was killed, the power stayed: nothing is lost.
  void revive();

  Status openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) override;
  Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                      std::unique_ptr<WritableFile>& file) override;
  Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) override;
  Status status(const std::string& path, FileStatus& out) override;
  Status linkStatus(const std::string& path, FileStatus& out) override;
  Status spaceStatus(const std::string& path, SpaceStatus& out) override;
  Status listDirectory(const std::string& path, std::vector<std::string>& names) override;
  Status rename(const std::string& from, const std::string& to) override;
  Status removeFile(const std::string& path) override;
  Status removeDirectory(const std::string& path) override;
  Status makeDirectory(const std::string& path, uint32_t mode) override;
  Status makeSymlink(const std::string& target, const std::string& path) override;
  Status readSymlink(const std::string& path, std::string& target) override;
  Status changeMode(const std::string& path, uint32_t mode) override;
  uint32_t creationMask() override { return 022; }
  Status syncPath(const std::string& path) override;
  void syncAll() override;
  Status changeRoot(const std::string& root) override;
  Status changeDirectory(const std::string& path) override;
  ImageFileResult findFileInImage(const std::string& packagePath, uint32_t imageOffset, const std::string& mountPoint,
                                  const std::string& fileInImage, Status& failure) override;
  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override;
  const char* variable(const char* name) override;
  // 100 ticks a second; every look at the clock takes 20 of them.
  uint32_t ticks() override;
  void sleepMilliseconds(unsigned milliseconds) override { clock += milliseconds / 10; }

 private:
  // The model's side of each Env call: false or null with errno set, as
  // the system call fails; the Env call makes a Status of it.
  std::unique_ptr<ReadableFile> rawOpenReadable(const std::string& path, const ReadLimits& limits);
  std::unique_ptr<WritableFile> rawOpenWritable(const std::string& path, WriteMode mode, uint32_t permissions);
  std::unique_ptr<WritableFile> rawCreateTemporary(const std::string& prefix, std::string& name);
  bool rawStatus(const std::string& path, FileStatus& out);
  bool rawLinkStatus(const std::string& path, FileStatus& out);
  bool rawSpaceStatus(const std::string& path, SpaceStatus& out);
  bool rawListDirectory(const std::string& path, std::vector<std::string>& names);
  bool rawRename(const std::string& from, const std::string& to);
  bool rawRemoveFile(const std::string& path);
  bool rawRemoveDirectory(const std::string& path);
  bool rawMakeDirectory(const std::string& path, uint32_t mode);
  bool rawMakeSymlink(const std::string& target, const std::string& path);
  bool rawReadSymlink(const std::string& path, std::string& target);
  bool rawChangeMode(const std::string& path, uint32_t mode);
  bool rawSyncPath(const std::string& path);
  bool rawChangeRoot(const std::string& root);
  bool rawChangeDirectory(const std::string& path);
  std::unique_ptr<FileLock> rawLockFile(const std::string& path);

  class Reader;
  class Writer;
  class Lock;

  struct Inode {
    FileType type = FileType::Regular;
    uint32_t mode = 0;  // permission bits
    std::string data;   // a file's contents, a link's target
    uint32_t durableMode = 0;
    std::string durableData;
    bool linked = false;  // named in the live tree, so counted in the usage
  };
  // Each directory's entries, by the directory's inode.
  using Names = std::map<uint64_t, std::map<std::string, uint64_t>>;
  struct FileSystem {
    Mount mount;
    std::vector<std::string> components;  // of the mount point
    bool attached = false;
    uint64_t root = 0;
    uint64_t nextInode = 1;
    std::map<uint64_t, Inode> inodes;  // all made since the last power cut
    Names live;
    Names base;  // as of the last point where all its changes were durable
    uint64_t usedBlocks = 0;
    uint64_t usedInodes = 0;
  };
  // One change of names: takes `inode` from fromDir/fromName (unless
  // fromDir is 0) and gives it toName in toDir (unless toDir is 0),
  // unlinking `replaced` (0: none) that had the name.
  struct Change {
    size_t fs = 0;
    uint64_t inode = 0;
    uint64_t fromDir = 0;
    std::string fromName;
    uint64_t toDir = 0;
    std::string toName;
    uint64_t replaced = 0;
    std::vector<uint64_t> waitsFor;  // the directories not fsynced since
  };
  // Where a path leads: the entry `name` of directory `dir` (dir 0: the
  // root of file system `fs`), and its inode (0: nothing is there).
  struct Where {
    size_t fs = 0;
    uint64_t dir = 0;
    std::string name;
    uint64_t inode = 0;
    std::vector<std::string> components;  // from the device's own root
  };

  // True when the call is to fail now (errno set); counts it.
  bool fails(EnvCall call);
  Where locate(const std::vector<std::string>& components) const;
  [[nodiscard]] bool resolveFrom(const std::vector<std::string>& root, const std::string& path, bool followLast,
                                 Where& where) const;
  [[nodiscard]] bool resolve(const std::string& path, bool followLast, Where& where) const {
    return resolveFrom(rootComponents, path, followLast, where);
  }
  // Like resolve, but false (ENOENT) when nothing is there.
  [[nodiscard]] bool findExisting(const std::string& path, bool followLast, Where& where) const;
  // REQUIRES: where.inode is not 0.
  const Inode& inodeAt(const Where& where) const;
  void fill(const Where& where, FileStatus& out) const;
  static bool startsWith(const std::vector<std::string>& whole, const std::vector<std::string>& part);
  // Whether a mount point lies at or below the path.
  bool mountBelow(const std::vector<std::string>& components) const;

  // Changing the live tree. `setup`: durable at once.
  [[nodiscard]] bool create(const Where& where, FileType type, uint32_t mode, const std::string& data, bool setup,
                            uint64_t& made);
  void commit(Change change, bool setup);
  // Removes the name at `where` (unlink or rmdir, checked already).
  void commitUnlink(const Where& where, bool setup = false);
  static bool apply(const FileSystem& fs, Names& names, const Change& change);
  static bool inside(const Names& names, uint64_t dir, uint64_t ancestor);
  [[nodiscard]] bool resize(size_t fs, uint64_t inode, uint64_t size);
  static uint64_t blocksOf(const FileSystem& fs, const Inode& node);
  static uint64_t freeBlocks(const FileSystem& fs);
  // The names the inode has in the live tree.
  static size_t namesOf(const FileSystem& fs, uint64_t inode);
  void count(FileSystem& fs, Inode& node, bool linked);
  std::unique_ptr<WritableFile> openFile(const Where& where, const std::string& path);

  // Durability.
  void makeDurable(size_t fs, uint64_t inode);
  void makeAllDurable();
  void forgetRemovedDirectories();
  void foldDurable();
  void settle(FileSystem& fs, Names names);
  void restart();

  void collect(size_t fs, uint64_t dir, const std::string& path, std::map<std::string, std::string>& lines) const;

  std::vector<FileSystem> fileSystems;  // "/" first, outer mounts before inner ones
  std::vector<Change> log;              // changes of names since the bases, in order
  std::vector<std::string> rootComponents;
  std::set<std::pair<size_t, uint64_t>> locks;
  std::map<std::string, std::string> variables;
  uint64_t generation = 0;  // of the run: files and locks of an earlier one are dead
  uint64_t randomState = 0x2545f4914f6cdd1dULL;
  uint32_t clock = 30000;

  static constexpr size_t kinds = static_cast<size_t>(EnvCall::Count);
  size_t counts[kinds] = {};
  size_t failing[kinds] = {};
  int errors[kinds] = {};
  size_t crashPoint = 0;
  size_t changeCount = 0;
  bool dead = false;
};

}  // namespace installer
