#include "support/simulated_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/crypto.h"
#include "platform/path_walk.h"
#include "platform/system_error.h"

namespace installer {

namespace {

constexpr uint32_t regularBits = 0100000, directoryBits = 040000, linkBits = 0120000, fifoBits = 010000;
// Files up to this size show their contents in a tree; longer ones a digest.
constexpr size_t shownBytes = 64;

bool failWith(int error) {
  errno = error;
  return false;
}

WalkStep failedStep(const std::string& path, int error, Status& failure) {
  errno = error;
  failure = systemError(path, error);
  return WalkStep::Fail;
}

std::vector<std::string> componentsOf(const std::string& path) {
  std::vector<std::string> components;
  for (size_t start = 0; start < path.size();) {
    size_t end = std::min(path.find('/', start), path.size());
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::string joined(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& component : components) path += "/" + component;
  return path.empty() ? "/" : path;
}

// A special file is made a FIFO, the only kind the tests plant.
uint32_t typeBits(FileType type) {
  if (type == FileType::Other) return fifoBits;
  return type == FileType::Directory ? directoryBits : type == FileType::Symlink ? linkBits : regularBits;
}

std::string escaped(unsigned char ch) {
  switch (ch) {
    case '\n':
      return "\\n";
    case '\t':
      return "\\t";
    case '\r':
      return "\\r";
    case '\\':
      return "\\\\";
    case '"':
      return "\\\"";
  }
  if (ch >= 0x20 && ch < 0x7f) return std::string(1, static_cast<char>(ch));
  char octal[8];
  std::snprintf(octal, sizeof octal, "\\%03o", ch);
  return octal;
}

// The contents as a C string literal, or their size and digest when long.
std::string shown(const std::string& data) {
  std::string text;
  if (data.size() <= shownBytes) {
    for (unsigned char ch : data) text += escaped(ch);
    return "\"" + text + "\"";
  }
  Digest digest(Digest::Sha256);
  uint8_t sum[32];
  digest.update(data.data(), data.size());
  digest.finish(sum);
  for (size_t i = 0; i < 8; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", sum[i]);
    text += hex;
  }
  return "<" + std::to_string(data.size()) + " bytes sha256:" + text + ">";
}

}  // namespace

SimulatedDevice::SimulatedDevice(std::vector<Mount> mounts) {
  std::stable_sort(mounts.begin(), mounts.end(), [](const Mount& a, const Mount& b) {
    return componentsOf(a.prefix).size() < componentsOf(b.prefix).size();
  });
  if (mounts.empty() || !componentsOf(mounts.front().prefix).empty()) mounts.insert(mounts.begin(), Mount{"/"});
  for (const Mount& mount : mounts) {
    FileSystem fs;
    fs.mount = mount;
    fs.components = componentsOf(mount.prefix);
    fs.mount.prefix = joined(fs.components);
    fs.root = fs.nextInode++;
    Inode& root = fs.inodes[fs.root];
    root.type = FileType::Directory;
    root.mode = root.durableMode = 0755;
    fs.live[fs.root];
    fs.base = fs.live;
    count(fs, root, true);
    fileSystems.push_back(std::move(fs));
  }
  fileSystems.front().attached = true;
  // The mount points are made in the file systems around them, outer first.
  for (size_t i = 1; i < fileSystems.size(); ++i) {
    static_cast<void>(addDirectories(fileSystems[i].mount.prefix));
    fileSystems[i].attached = true;
  }
}

SimulatedDevice::~SimulatedDevice() = default;

bool SimulatedDevice::fails(EnvCall call) {
  size_t i = static_cast<size_t>(call);
  if (call != EnvCall::OpenRead && call != EnvCall::Read) {
    ++changeCount;
    if (crashPoint != 0 && changeCount >= crashPoint) dead = true;
    if (dead) {
      errno = EIO;
      return true;
    }
  }
  if (++counts[i] != failing[i]) return false;
  errno = errors[i];
  return true;
}

void SimulatedDevice::failAt(EnvCall call, size_t n, int error) {
  failing[static_cast<size_t>(call)] = n;
  errors[static_cast<size_t>(call)] = error;
}

// ---- Paths

bool SimulatedDevice::startsWith(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

SimulatedDevice::Where SimulatedDevice::locate(const std::vector<std::string>& components) const {
  size_t owner = 0;
  for (size_t i = 1; i < fileSystems.size(); ++i) {
    const FileSystem& fs = fileSystems[i];
    if (fs.attached && fs.components.size() > fileSystems[owner].components.size() &&
        startsWith(components, fs.components)) {
      owner = i;
    }
  }
  const FileSystem& fs = fileSystems[owner];
  Where where;
  where.fs = owner;
  where.components = components;
  uint64_t at = fs.root;
  for (size_t i = fs.components.size(); i < components.size(); ++i) {
    auto entries = fs.live.find(at);
    if (at == 0 || entries == fs.live.end()) {  // nothing, and no directory to make it in
      where.dir = 0;
      at = 0;
      break;
    }
    where.dir = at;
    where.name = components[i];
    auto entry = entries->second.find(components[i]);
    at = entry == entries->second.end() ? 0 : entry->second;
  }
  where.inode = at;
  return where;
}

bool SimulatedDevice::resolveFrom(const std::vector<std::string>& root, const std::string& path, bool followLast,
                                  Where& where) const {
  bool trailingSlash = endsWithSlash(path);
  followLast = followLast || trailingSlash;
  auto full = [&root](const std::vector<std::string>& done) {
    std::vector<std::string> components = root;
    components.insert(components.end(), done.begin(), done.end());
    return components;
  };
  auto look = [&](const std::vector<std::string>& done, bool last, std::string& link, Status& failure) {
    Where at = locate(full(done));
    if (at.inode == 0) return last ? WalkStep::Stop : failedStep(path, ENOENT, failure);
    const Inode& node = inodeAt(at);
    if (node.type == FileType::Symlink && (followLast || !last)) {
      link = node.data;
      return WalkStep::FollowLink;
    }
    if (node.type != FileType::Directory && (!last || trailingSlash)) return failedStep(path, ENOTDIR, failure);
    return WalkStep::Next;
  };
  std::vector<std::string> done;
  Status walked = walkPath(path, look, done);
  if (!walked.isOk()) {
    // A look that failed has set errno already; the walk's own failures
    // are an empty path and too many links.
    if (walked.is(Status::Kind::NotFound) && path.empty()) errno = ENOENT;
    if (!path.empty() && walked.reason() == systemError("", ELOOP).reason()) errno = ELOOP;
    return false;
  }
  where = locate(full(done));
  return true;
}

bool SimulatedDevice::findExisting(const std::string& path, bool followLast, Where& where) const {
  return resolve(path, followLast, where) && (where.inode != 0 || failWith(ENOENT));
}

const SimulatedDevice::Inode& SimulatedDevice::inodeAt(const Where& where) const {
  return fileSystems[where.fs].inodes.find(where.inode)->second;
}

bool SimulatedDevice::mountBelow(const std::vector<std::string>& components) const {
  for (size_t i = 1; i < fileSystems.size(); ++i) {
    if (fileSystems[i].attached && startsWith(fileSystems[i].components, components)) return true;
  }
  return false;
}

void SimulatedDevice::fill(const Where& where, FileStatus& out) const {
  const FileSystem& fs = fileSystems[where.fs];
  const Inode& node = inodeAt(where);
  out.type = node.type;
  out.mode = typeBits(node.type) | node.mode;
  out.size = node.type == FileType::Directory ? fs.mount.blockSize : node.data.size();
  out.device = where.fs + 1;
  out.links = node.type == FileType::Directory ? 2 : namesOf(fs, where.inode);
  out.inode = where.inode;
}

size_t SimulatedDevice::namesOf(const FileSystem& fs, uint64_t inode) {
  size_t names = 0;
  for (const auto& directory : fs.live) {
    for (const auto& entry : directory.second) names += entry.second == inode ? 1 : 0;
  }
  return names;
}

// ---- Space

uint64_t SimulatedDevice::blocksOf(const FileSystem& fs, const Inode& node) {
  if (node.type == FileType::Directory) return 1;
  if (node.type == FileType::Symlink || node.type == FileType::Other) return 0;
  return (node.data.size() + fs.mount.blockSize - 1) / fs.mount.blockSize;
}

uint64_t SimulatedDevice::freeBlocks(const FileSystem& fs) {
  return fs.mount.blocks > fs.usedBlocks ? fs.mount.blocks - fs.usedBlocks : 0;
}

void SimulatedDevice::count(FileSystem& fs, Inode& node, bool linked) {
  if (node.linked == linked) return;
  node.linked = linked;
  uint64_t blocks = blocksOf(fs, node);
  fs.usedInodes = linked ? fs.usedInodes + 1 : fs.usedInodes - 1;
  fs.usedBlocks = linked ? fs.usedBlocks + blocks : fs.usedBlocks - blocks;
}

// Only a named file takes space: one still open after its unlink is free.
bool SimulatedDevice::resize(size_t fsIndex, uint64_t inode, uint64_t size) {
  FileSystem& fs = fileSystems[fsIndex];
  const Inode& node = fs.inodes[inode];
  if (!node.linked) return true;
  uint64_t before = blocksOf(fs, node), after = (size + fs.mount.blockSize - 1) / fs.mount.blockSize;
  if (after > before && after - before > freeBlocks(fs)) return failWith(ENOSPC);
  fs.usedBlocks = fs.usedBlocks - before + after;
  return true;
}

// ---- Changes of names

bool SimulatedDevice::create(const Where& where, FileType type, uint32_t mode, const std::string& data, bool setup,
                             uint64_t& made) {
  if (where.dir == 0) return failWith(ENOENT);
  FileSystem& fs = fileSystems[where.fs];
  if (fs.mount.inodes != 0 && fs.usedInodes >= fs.mount.inodes) return failWith(ENOSPC);
  if (type == FileType::Directory && freeBlocks(fs) == 0) return failWith(ENOSPC);
  made = fs.nextInode++;
  Inode& node = fs.inodes[made];
  node.type = type;
  node.mode = node.durableMode = mode & 07777;
  node.data = node.durableData = data;  // a link's target; files start empty
  Change change;
  change.fs = where.fs;
  change.inode = made;
  change.toDir = where.dir;
  change.toName = where.name;
  commit(change, setup);
  return true;
}

// REQUIRES: the change can be made on the live tree.
// A file with another name left (a hard link) keeps its space.
void SimulatedDevice::commit(Change change, bool setup) {
  FileSystem& fs = fileSystems[change.fs];
  if (change.fromDir == 0) count(fs, fs.inodes[change.inode], true);
  apply(fs, fs.live, change);
  if (change.replaced != 0 && namesOf(fs, change.replaced) == 0) count(fs, fs.inodes[change.replaced], false);
  if (change.toDir == 0 && namesOf(fs, change.inode) == 0) count(fs, fs.inodes[change.inode], false);
  if (fs.mount.volatileStorage) return;  // lost at a cut whatever happens
  if (!setup) {
    change.waitsFor.push_back(change.fromDir != 0 ? change.fromDir : change.toDir);
    if (change.fromDir != 0 && change.toDir != 0 && change.toDir != change.fromDir)
      change.waitsFor.push_back(change.toDir);
  }
  log.push_back(std::move(change));
  foldDurable();
}

// Makes the change on `names` when it still can be made there: what it
// moves or removes is still at its name, the directory it names into
// exists, the name is free or holds what it replaced, a directory it
// removes or replaces is empty, and a directory does not go below itself.
bool SimulatedDevice::apply(const FileSystem& fs, Names& names, const Change& change) {
  bool directory = fs.inodes.find(change.inode)->second.type == FileType::Directory;
  auto emptyOrNone = [&names](uint64_t dir) {
    auto entries = names.find(dir);
    return entries == names.end() || entries->second.empty();
  };
  if (change.fromDir != 0) {
    auto from = names.find(change.fromDir);
    if (from == names.end()) return false;
    auto entry = from->second.find(change.fromName);
    if (entry == from->second.end() || entry->second != change.inode) return false;
    if (change.toDir == 0 && !emptyOrNone(change.inode)) return false;
  }
  if (change.toDir != 0) {
    auto to = names.find(change.toDir);
    if (to == names.end()) return false;
    auto held = to->second.find(change.toName);
    if (held != to->second.end() && (held->second != change.replaced || !emptyOrNone(held->second))) return false;
    if (directory && change.fromDir != 0 && inside(names, change.toDir, change.inode)) return false;
  }
  if (change.fromDir != 0) names[change.fromDir].erase(change.fromName);
  if (change.toDir == 0) {
    names.erase(change.inode);
    return true;
  }
  std::map<std::string, uint64_t>& entries = names[change.toDir];
  auto held = entries.find(change.toName);
  if (held != entries.end()) {
    names.erase(held->second);
    entries.erase(held);
  }
  entries[change.toName] = change.inode;
  if (directory && change.fromDir == 0) names[change.inode];  // a new, empty directory
  return true;
}

// Whether `dir` is `ancestor` or lies below it.
bool SimulatedDevice::inside(const Names& names, uint64_t dir, uint64_t ancestor) {
  while (dir != ancestor) {
    uint64_t parent = 0;
    for (const auto& directory : names) {
      for (const auto& entry : directory.second) {
        if (entry.second == dir) parent = directory.first;
      }
    }
    if (parent == 0) return false;
    dir = parent;
  }
  return true;
}

// ---- Durability

// The oldest changes, once durable, go into the base: any power cut keeps
// them, and everything before them, so they replay as they were made.
void SimulatedDevice::foldDurable() {
  size_t folded = 0;
  for (; folded < log.size() && log[folded].waitsFor.empty(); ++folded) {
    FileSystem& fs = fileSystems[log[folded].fs];
    apply(fs, fs.base, log[folded]);
  }
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(folded));
}

// An fsync: a file's data and mode last from now on; a directory's mode
// too, and the changes of names made in it so far.
void SimulatedDevice::makeDurable(size_t fsIndex, uint64_t inode) {
  Inode& node = fileSystems[fsIndex].inodes[inode];
  node.durableMode = node.mode;
  if (node.type != FileType::Directory) {
    node.durableData = node.data;
    return;
  }
  for (Change& change : log) {
    auto& waits = change.waitsFor;
    if (change.fs == fsIndex) waits.erase(std::remove(waits.begin(), waits.end(), inode), waits.end());
  }
  forgetRemovedDirectories();
  foldDurable();
}

void SimulatedDevice::makeAllDurable() {
  for (FileSystem& fs : fileSystems) {
    for (auto& inode : fs.inodes) {
      inode.second.durableData = inode.second.data;
      inode.second.durableMode = inode.second.mode;
    }
    fs.base = fs.live;
  }
  log.clear();
}

// A directory whose removal is durable was empty when it went, so no file
// system can show the changes made in it before: they are as good as
// durable, though the directory can no longer be synced. Later removals go
// first, as they may free earlier ones (a/b removed, then a).
void SimulatedDevice::forgetRemovedDirectories() {
  for (size_t i = log.size(); i-- > 0;) {
    const Change& change = log[i];
    uint64_t removed = change.toDir == 0 ? change.inode : change.replaced;
    const FileSystem& fs = fileSystems[change.fs];
    if (!change.waitsFor.empty() || removed == 0) continue;
    if (fs.inodes.find(removed)->second.type != FileType::Directory) continue;
    for (size_t j = 0; j < i; ++j) {
      auto& waits = log[j].waitsFor;
      if (log[j].fs == change.fs) waits.erase(std::remove(waits.begin(), waits.end(), removed), waits.end());
    }
  }
}

size_t SimulatedDevice::unsyncedChanges() const {
  return static_cast<size_t>(
      std::count_if(log.begin(), log.end(), [](const Change& change) { return !change.waitsFor.empty(); }));
}

void SimulatedDevice::powerCut(Loss loss, size_t which) {
  std::vector<Names> replayed;
  for (const FileSystem& fs : fileSystems) replayed.push_back(fs.base);
  size_t unsynced = 0;
  for (const Change& change : log) {
    bool lost = false;
    if (!change.waitsFor.empty()) {
      lost = loss == Loss::EveryUnsyncedChange || (loss == Loss::OneUnsyncedChange && unsynced == which);
      ++unsynced;
    }
    if (!lost) static_cast<void>(apply(fileSystems[change.fs], replayed[change.fs], change));
  }
  log.clear();
  for (size_t i = 0; i < fileSystems.size(); ++i) settle(fileSystems[i], replayed[i]);
  restart();
}

// Makes `names` (or, on a RAM disk, an empty root) the file system's tree
// and base, with every file's data and mode as last made durable.
void SimulatedDevice::settle(FileSystem& fs, Names names) {
  if (fs.mount.volatileStorage) {
    names.clear();
    names[fs.root];
  }
  fs.live = fs.base = names;
  std::set<uint64_t> named{fs.root};
  for (const auto& directory : names) {
    for (const auto& entry : directory.second) named.insert(entry.second);
  }
  fs.usedBlocks = fs.usedInodes = 0;
  for (auto it = fs.inodes.begin(); it != fs.inodes.end();) {
    if (named.count(it->first) == 0) {
      it = fs.inodes.erase(it);
      continue;
    }
    Inode& node = it->second;
    node.data = node.durableData;
    node.mode = node.durableMode;
    node.linked = false;
    count(fs, node, true);
    ++it;
  }
}

void SimulatedDevice::revive() { restart(); }

void SimulatedDevice::restart() {
  ++generation;
  locks.clear();
  rootComponents.clear();
  std::fill(std::begin(counts), std::end(counts), 0);
  std::fill(std::begin(failing), std::end(failing), 0);
  crashPoint = changeCount = 0;
  dead = false;
}

// ---- Setting up and looking

bool SimulatedDevice::addDirectories(const std::string& path) {
  for (size_t end = 0; end != std::string::npos;) {
    end = path.find('/', end + 1);
    std::string above = path.substr(0, end);
    Where where;
    uint64_t made;
    if (above.empty() || above.back() == '/') continue;
    if (!resolveFrom({}, above, true, where)) return false;
    if (where.inode == 0 && !create(where, FileType::Directory, 0755, "", true, made)) return false;
    if (where.inode != 0 && inodeAt(where).type != FileType::Directory) return failWith(ENOTDIR);
  }
  return true;
}

bool SimulatedDevice::addFile(const std::string& path, const std::string& contents, uint32_t mode) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !addDirectories(path.substr(0, slash))) return false;
  Where where;
  if (!resolveFrom({}, path, true, where)) return false;
  if (where.inode == 0 && !create(where, FileType::Regular, mode, "", true, where.inode)) return false;
  if (inodeAt(where).type != FileType::Regular) return failWith(EISDIR);
  if (!resize(where.fs, where.inode, contents.size())) return false;
  Inode& node = fileSystems[where.fs].inodes[where.inode];
  node.data = node.durableData = contents;
  node.mode = node.durableMode = mode & 07777;
  return true;
}

bool SimulatedDevice::addSymlink(const std::string& path, const std::string& target) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !addDirectories(path.substr(0, slash))) return false;
  Where where;
  uint64_t made;
  if (!resolveFrom({}, path, false, where)) return false;
  if (where.inode != 0) return failWith(EEXIST);
  return create(where, FileType::Symlink, 0777, target, true, made);
}

bool SimulatedDevice::addSpecial(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !addDirectories(path.substr(0, slash))) return false;
  Where where;
  uint64_t made;
  if (!resolveFrom({}, path, false, where)) return false;
  if (where.inode != 0) return failWith(EEXIST);
  return create(where, FileType::Other, 0644, "", true, made);
}

bool SimulatedDevice::addHardLink(const std::string& path, const std::string& existing) {
  Where from, to;
  if (!resolveFrom({}, existing, false, from) || !resolveFrom({}, path, false, to)) return false;
  if (from.inode == 0) return failWith(ENOENT);
  if (to.inode != 0) return failWith(EEXIST);
  if (to.dir == 0) return failWith(ENOENT);
  if (inodeAt(from).type == FileType::Directory) return failWith(EPERM);
  if (to.fs != from.fs) return failWith(EXDEV);
  Change change;
  change.fs = to.fs;
  change.inode = from.inode;
  change.toDir = to.dir;
  change.toName = to.name;
  commit(change, true);
  return true;
}

bool SimulatedDevice::removeTree(const std::string& path) {
  Where where;
  if (!resolveFrom({}, path, false, where)) return errno == ENOENT;  // no directory above: nothing there
  if (where.inode == 0) return true;
  if (where.dir == 0 || mountBelow(where.components)) return failWith(EBUSY);
  if (inodeAt(where).type == FileType::Directory) {
    std::vector<std::string> names;
    for (const auto& entry : fileSystems[where.fs].live[where.inode]) names.push_back(entry.first);
    for (const std::string& name : names) {
      if (!removeTree(joined(where.components) + "/" + name)) return false;
    }
  }
  commitUnlink(where, true);
  return true;
}

void SimulatedDevice::leaveFree(const std::string& mountPrefix, uint64_t blocks) {
  for (FileSystem& fs : fileSystems) {
    if (fs.mount.prefix == mountPrefix) fs.mount.blocks = fs.usedBlocks + blocks;
  }
}

bool SimulatedDevice::read(const std::string& path, std::string& contents) const {
  Where where;
  if (!resolveFrom({}, path, true, where) || where.inode == 0) return false;
  if (inodeAt(where).type != FileType::Regular) return failWith(EISDIR);
  contents = inodeAt(where).data;
  return true;
}

bool SimulatedDevice::has(const std::string& path) const {
  Where where;
  return resolveFrom({}, path, false, where) && where.inode != 0;
}

std::string SimulatedDevice::tree(const std::string& under) const {
  std::map<std::string, std::string> lines;
  collect(0, fileSystems.front().root, "", lines);
  std::string top = joined(componentsOf(under));
  std::string below = top == "/" ? top : top + "/";
  std::string text;
  for (const auto& line : lines) {
    if (line.first.compare(0, below.size(), below) == 0) text += line.second + "\n";
  }
  return text;
}

void SimulatedDevice::collect(size_t fsIndex, uint64_t dir, const std::string& path,
                              std::map<std::string, std::string>& lines) const {
  for (const auto& entry : fileSystems[fsIndex].live.find(dir)->second) {
    std::string child = path + "/" + entry.first;
    Where where;
    where.fs = fsIndex;
    where.inode = entry.second;
    for (size_t i = 1; i < fileSystems.size(); ++i) {
      if (fileSystems[i].attached && fileSystems[i].mount.prefix == child) {
        where.fs = i;
        where.inode = fileSystems[i].root;
      }
    }
    const Inode& node = inodeAt(where);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", node.mode);
    if (node.type == FileType::Directory) lines[child] = child + "/ " + mode;
    if (node.type == FileType::Symlink) lines[child] = child + " -> " + node.data;
    if (node.type == FileType::Regular) lines[child] = child + " " + mode + " " + shown(node.data);
    if (node.type == FileType::Other) lines[child] = child + " special";
    if (node.type == FileType::Directory) collect(where.fs, where.inode, child, lines);
  }
}

}  // namespace installer
