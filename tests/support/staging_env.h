// Helpers for the staging tests: file systems of their own simulated on one
// host directory, a staged set written as text, and files planted from a
// one-line description.
#pragma once

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/system_error.h"
#include "staging/staged_files.h"
#include "support/test_root.h"

namespace installer {

// Each disk makes the paths at and below its prefix ("/flash") a file
// system of its own: statfs reports its figures and stat its device, and a
// rename between two disks fails (CrossDevice), as the kernel's would. Paths
// below no prefix lie on device 0 with the host's figures; of nested
// disks, list the outer one first. The clock moves 20 ticks per look.
class DiskEnv : public EnvWrapper {
 public:
  // clang-format off
  struct Disk { std::string prefix; uint64_t device, blockSize, freeBlocks; };
  // clang-format on
  explicit DiskEnv(Env& target, std::vector<Disk> list = {}) : EnvWrapper(target), disks(std::move(list)) {}
  std::vector<Disk> disks;
  uint32_t now = 30000;

  const Disk* diskOf(const std::string& path) const {
    const Disk* found = nullptr;
    for (const Disk& d : disks)
      if ((path + "/").rfind(d.prefix + "/", 0) == 0) found = &d;
    return found;
  }
  uint64_t deviceOf(const std::string& path) const { return diskOf(path) ? diskOf(path)->device : 0; }

  Status spaceStatus(const std::string& path, SpaceStatus& out) override {
    Status found = EnvWrapper::spaceStatus(path, out);
    if (!found.isOk()) return found;
    if (const Disk* d = diskOf(path)) out = {d->blockSize, d->freeBlocks};
    return Status::ok();
  }
  Status status(const std::string& path, FileStatus& out) override {
    Status found = EnvWrapper::status(path, out);
    if (found.isOk()) out.device = deviceOf(path);
    return found;
  }
  Status linkStatus(const std::string& path, FileStatus& out) override {
    Status found = EnvWrapper::linkStatus(path, out);
    if (found.isOk()) out.device = deviceOf(path);
    return found;
  }
  Status rename(const std::string& from, const std::string& to) override {
    return deviceOf(from) == deviceOf(to) ? EnvWrapper::rename(from, to) : systemError(to, EXDEV);
  }
  uint32_t ticks() override { return now += 20; }
};

// A staged set as text, "U /a|L /b text|M /c /d" in path order: the
// manifest's letters for Delete, Symlink and Move, "W" for Write and "C"
// for Copy, then the path and the target, if any.
inline std::string entriesText(const StagedFiles& staged) {
  std::string text;
  for (const auto& [path, op] : staged.entries)
    text += (text.empty() ? "" : "|") + std::string(1, "MW?LUC"[static_cast<int>(op.kind)]) + " " + path +
            (op.target.empty() ? "" : " " + op.target);
  return text;
}

// Stages the entries of a text in the form entriesText gives.
inline void stageText(StagedFiles& staged, const std::string& text) {
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, '|');) {
    std::string kind, path, target;
    std::istringstream(entry) >> kind >> path >> target;
    stageRecord(staged, path, static_cast<StagedKind>(std::string("MW?LUC").find(kind)), target);
  }
}

// Makes the files a list of items separated by spaces describes: "PATH=TEXT"
// holds the text, "PATH:SIZE" that many bytes "x", and "PATH>TARGET" is a
// symbolic link. A file item may end in "@MODE" (octal; 0644 by default).
inline void plant(const TestRoot& root, const std::string& items) {
  std::istringstream in(items);
  for (std::string item; in >> item;) {
    size_t split = item.find_first_of("=:>"), at = item.find('@');
    std::string path = item.substr(0, split), value = item.substr(split + 1, at - split - 1);
    unsigned mode = at == std::string::npos ? 0644 : std::stoul(item.substr(at + 1), nullptr, 8);
    if (item[split] == '>') root.symlink(path, value);
    if (item[split] != '>') root.write(path, item[split] == '=' ? value : std::string(std::stoul(value), 'x'), mode);
  }
}

}  // namespace installer
