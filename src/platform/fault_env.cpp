#include "platform/fault_env.h"

#include <cerrno>

namespace installer {

namespace {

bool changesStorage(EnvCall call) { return call != EnvCall::OpenRead && call != EnvCall::Read; }

class FaultReadableFile : public ReadableFile {
 public:
  FaultReadableFile(FaultEnv& owner, std::unique_ptr<ReadableFile> opened) : env(owner), file(std::move(opened)) {}
  long read(char* bytes, size_t n) override { return env.fails(EnvCall::Read) ? -1 : file->read(bytes, n); }
  int64_t seek(int64_t offset, int whence) override { return file->seek(offset, whence); }

 private:
  FaultEnv& env;
  std::unique_ptr<ReadableFile> file;
};

class FaultWritableFile : public WritableFile {
 public:
  FaultWritableFile(FaultEnv& owner, std::unique_ptr<WritableFile> opened, std::shared_ptr<FaultEnv::Flushed> state)
      : env(owner), file(std::move(opened)), flushed(std::move(state)) {}
  bool append(const char* bytes, size_t n) override {
    if (env.fails(EnvCall::Write) || !file->append(bytes, n)) return false;
    flushed->written += n;
    return true;
  }
  bool sync() override {
    if (env.fails(EnvCall::Sync) || !file->sync()) return false;
    flushed->flushed = flushed->written;
    return true;
  }
  bool close() override { return file->close(); }

 private:
  FaultEnv& env;
  std::unique_ptr<WritableFile> file;
  std::shared_ptr<FaultEnv::Flushed> flushed;
};

}  // namespace

void FaultEnv::failAt(EnvCall call, size_t n, int error) {
  failing[index(call)] = n;
  errors[index(call)] = error;
}

bool FaultEnv::fails(EnvCall call) {
  size_t i = index(call);
  if (changesStorage(call)) {
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

std::shared_ptr<FaultEnv::Flushed> FaultEnv::track(const std::string& path, uint64_t existing) {
  auto state = std::make_shared<Flushed>();
  state->written = state->flushed = existing;
  files[path] = state;
  return state;
}

std::unique_ptr<WritableFile> FaultEnv::wrap(std::unique_ptr<WritableFile> file, const std::string& path,
                                             uint64_t existing) {
  if (!file) return nullptr;
  return std::make_unique<FaultWritableFile>(*this, std::move(file), track(path, existing));
}

void FaultEnv::loseUnflushedData() {
  for (const auto& entry : files) {
    if (entry.second->written > entry.second->flushed) {
      static_cast<void>(target().truncate(entry.first, entry.second->flushed));
    }
  }
  files.clear();
}

std::unique_ptr<ReadableFile> FaultEnv::openReadable(const std::string& path, const ReadLimits& limits) {
  if (fails(EnvCall::OpenRead)) return nullptr;
  std::unique_ptr<ReadableFile> file = target().openReadable(path, limits);
  if (!file) return nullptr;
  return std::make_unique<FaultReadableFile>(*this, std::move(file));
}

std::unique_ptr<WritableFile> FaultEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions) {
  if (fails(EnvCall::OpenWrite)) return nullptr;
  FileStatus info;
  uint64_t existing = mode == WriteMode::Append && target().status(path, info) ? info.size : 0;
  return wrap(target().openWritable(path, mode, permissions), path, existing);
}

std::unique_ptr<WritableFile> FaultEnv::createTemporary(const std::string& prefix, std::string& name) {
  if (fails(EnvCall::OpenWrite)) return nullptr;
  std::unique_ptr<WritableFile> file = target().createTemporary(prefix, name);
  return wrap(std::move(file), name, 0);
}

bool FaultEnv::rename(const std::string& from, const std::string& to) {
  if (fails(EnvCall::Rename) || !target().rename(from, to)) return false;
  auto moved = files.find(from);
  files.erase(to);
  if (moved != files.end()) {
    files[to] = moved->second;
    files.erase(moved);
  }
  return true;
}

bool FaultEnv::removeFile(const std::string& path) {
  if (fails(EnvCall::RemoveFile) || !target().removeFile(path)) return false;
  files.erase(path);
  return true;
}

bool FaultEnv::removeDirectory(const std::string& path) {
  return !fails(EnvCall::RemoveDirectory) && target().removeDirectory(path);
}

bool FaultEnv::makeDirectory(const std::string& path, uint32_t mode) {
  return !fails(EnvCall::MakeDirectory) && target().makeDirectory(path, mode);
}

bool FaultEnv::makeSymlink(const std::string& linkTarget, const std::string& path) {
  return !fails(EnvCall::Symlink) && target().makeSymlink(linkTarget, path);
}

bool FaultEnv::truncate(const std::string& path, uint64_t size) {
  return !fails(EnvCall::Truncate) && target().truncate(path, size);
}

bool FaultEnv::changeMode(const std::string& path, uint32_t mode) {
  return !fails(EnvCall::ChangeMode) && target().changeMode(path, mode);
}

bool FaultEnv::syncPath(const std::string& path) {
  if (fails(EnvCall::Sync) || !target().syncPath(path)) return false;
  auto tracked = files.find(path);
  if (tracked != files.end()) tracked->second->flushed = tracked->second->written;
  return true;
}

void FaultEnv::syncAll() {
  if (fails(EnvCall::Sync)) return;
  target().syncAll();
  for (const auto& entry : files) entry.second->flushed = entry.second->written;
}

}  // namespace installer
