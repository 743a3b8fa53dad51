// FaultEnv: an Env that fails chosen calls, for the tests of what the
// installer does when the storage gives out (a full disk, a read error, a
// rename that cannot be made) or the power does.
//
// Every call of a kind is counted; failAt() makes the n-th call of a kind,
// counted from the start, fail with an errno of the test's choice instead
// of reaching the wrapped Env. Writes, syncs and reads through files that
// the FaultEnv opened count as calls too. (Runs that die, and power cuts,
// are the simulated device's: tests/support/simulated_device.h.)
#pragma once

#include <array>
#include <cstddef>
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

  // True when the call is to fail now: errno is then set. Counts the call.
  bool fails(EnvCall call);

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
  [[nodiscard]] bool changeMode(const std::string& path, uint32_t mode) override;
  [[nodiscard]] bool syncPath(const std::string& path) override;
  void syncAll() override;

 private:
  static size_t index(EnvCall call) { return static_cast<size_t>(call); }
  std::unique_ptr<WritableFile> wrap(std::unique_ptr<WritableFile> file);

  static constexpr size_t kinds = static_cast<size_t>(EnvCall::Count);
  std::array<size_t, kinds> counts{};
  std::array<size_t, kinds> failing{};
  std::array<int, kinds> errors{};
};

}  // namespace installer
