// FaultEnv: an Env that fails chosen calls, for the tests of what the
// installer does when the storage gives out (a full disk, a read error, a
// rename that cannot be made) or the power does.
//
// Every call of a kind is counted; failAt() makes the n-th call of a kind,
// counted from the start, fail with an errno of the test's choice instead
// of reaching the wrapped Env. Writes, syncs and reads through files that
// the FaultEnv opened count as calls too.
//
// crashAt() models a run that dies: from the n-th call that changes the
// storage on, every such call fails with EIO and changes nothing.
// loseUnflushedData() then does what a power cut would: every file written
// through this Env loses what was written after its last flush (an fsync of
// it, or a sync of everything). Other changes (renames, removals, links,
// new directories) count as made when the call returns.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>

#include "platform/env.h"

namespace installer {

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
  Truncate,
  ChangeMode,
  Count,  // the number of kinds, not a kind
};

class FaultEnv : public EnvWrapper {
 public:
  explicit FaultEnv(Env& target) : EnvWrapper(target) {}

  // The n-th call of `call` (1 is the first since the FaultEnv was made)
  // fails with `error`; 0 fails none.
  void failAt(EnvCall call, size_t n, int error);
  size_t calls(EnvCall call) const { return counts[index(call)]; }

  // The run dies at the n-th call that changes the storage (1 is the
  // first); 0 never.
  void crashAt(size_t n) { crashPoint = n; }
  // The calls that changed, or were to change, the storage so far.
  size_t changes() const { return changeCount; }
  bool crashed() const { return dead; }
  void loseUnflushedData();

  // True when the call is to fail now: errno is then set. Counts the call.
  bool fails(EnvCall call);

  // What was written to a file and what of it was flushed.
  struct Flushed {
    uint64_t written = 0;
    uint64_t flushed = 0;
  };
  std::shared_ptr<Flushed> track(const std::string& path, uint64_t existing);

  [[nodiscard]] std::unique_ptr<ReadableFile> openReadable(const std::string& path,
                                                           const ReadLimits& limits = ReadLimits()) override;
  [[nodiscard]] std::unique_ptr<WritableFile> openWritable(const std::string& path, WriteMode mode,
                                                           uint32_t permissions) override;
  [[nodiscard]] std::unique_ptr<WritableFile> createTemporary(const std::string& prefix, std::string& name) override;
  [[nodiscard]] bool rename(const std::string& from, const std::string& to) override;
  [[nodiscard]] bool removeFile(const std::string& path) override;
  [[nodiscard]] bool removeDirectory(const std::string& path) override;
  [[nodiscard]] bool makeDirectory(const std::string& path, uint32_t mode) override;
  [[nodiscard]] bool makeSymlink(const std::string& target, const std::string& path) override;
  [[nodiscard]] bool truncate(const std::string& path, uint64_t size) override;
  [[nodiscard]] bool changeMode(const std::string& path, uint32_t mode) override;
  [[nodiscard]] bool syncPath(const std::string& path) override;
  void syncAll() override;

 private:
  static size_t index(EnvCall call) { return static_cast<size_t>(call); }
  std::unique_ptr<WritableFile> wrap(std::unique_ptr<WritableFile> file, const std::string& path, uint64_t existing);

  static constexpr size_t kinds = static_cast<size_t>(EnvCall::Count);
  std::array<size_t, kinds> counts{};
  std::array<size_t, kinds> failing{};
  std::array<int, kinds> errors{};
  size_t crashPoint = 0;
  size_t changeCount = 0;
  bool dead = false;
  std::map<std::string, std::shared_ptr<Flushed>> files;
};

}  // namespace installer
