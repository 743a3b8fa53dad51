// FaultEnv: an Env that fails chosen calls, for the tests of what the
// installer does when the storage gives out (a full disk, a read error, a
// rename that cannot be made) or the power does.
//
// Every call of a kind is counted; failAt() makes the n-th call of a kind,
// counted from the start, fail with an error of the test's choice instead
// of reaching the wrapped Env. Writes, syncs and reads through files that
// the FaultEnv opened count as calls too. (Runs that die, and power cuts,
// are the simulated device's: tests/support/simulated_device.h.)
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "platform/env.h"
#include "support/simulated_device.h"  // EnvCall

namespace installer {

class FaultEnv : public EnvWrapper {
 public:
  explicit FaultEnv(Env& target) : EnvWrapper(target) {}

  // The n-th call of `call` (1 is the first since the FaultEnv was made)
  // fails with the errno value `error`; 0 fails none.
  void failAt(EnvCall call, size_t n, int error);
  size_t calls(EnvCall call) const { return counts[index(call)]; }

  // The failure of the call, when it is to fail now (with the error chosen,
  // on `subject`); ok otherwise. Counts the call.
  Status fails(EnvCall call, const std::string& subject);
  // The failure of the call when it is to fail now, else what `call` returns.
  template <class Call>
  Status unlessFailing(EnvCall kind, const std::string& subject, Call call) {
    Status failure = fails(kind, subject);
    return failure.isOk() ? call() : failure;
  }

  Status openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) override;
  Status openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                      std::unique_ptr<WritableFile>& file) override;
  Status createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) override;
  Status rename(const std::string& from, const std::string& to) override;
  Status removeFile(const std::string& path) override;
  Status removeDirectory(const std::string& path) override;
  Status makeDirectory(const std::string& path, uint32_t mode) override;
  Status makeSymlink(const std::string& target, const std::string& path) override;
  Status changeMode(const std::string& path, uint32_t mode) override;
  Status syncPath(const std::string& path) override;
  void syncAll() override;

 private:
  static size_t index(EnvCall call) { return static_cast<size_t>(call); }
  std::unique_ptr<WritableFile> wrap(std::unique_ptr<WritableFile> file, const std::string& path);

  static constexpr size_t kinds = static_cast<size_t>(EnvCall::Count);
  std::array<size_t, kinds> counts{};
  std::array<size_t, kinds> failing{};
  std::array<int, kinds> errors{};
};

}  // namespace installer
