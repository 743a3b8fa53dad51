#include "support/fault_env.h"

#include <cerrno>

namespace installer {

namespace {

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
  FaultWritableFile(FaultEnv& owner, std::unique_ptr<WritableFile> opened) : env(owner), file(std::move(opened)) {}
  bool append(const char* bytes, size_t n) override { return !env.fails(EnvCall::Write) && file->append(bytes, n); }
  bool sync() override { return !env.fails(EnvCall::Sync) && file->sync(); }
  bool close() override { return file->close(); }

 private:
  FaultEnv& env;
  std::unique_ptr<WritableFile> file;
};

}  // namespace

void FaultEnv::failAt(EnvCall call, size_t n, int error) {
  failing[index(call)] = n;
  errors[index(call)] = error;
}

bool FaultEnv::fails(EnvCall call) {
  size_t i = index(call);
  if (++counts[i] != failing[i]) return false;
  errno = errors[i];
  return true;
}

std::unique_ptr<WritableFile> FaultEnv::wrap(std::unique_ptr<WritableFile> file) {
  if (!file) return nullptr;
  return std::make_unique<FaultWritableFile>(*this, std::move(file));
}

std::unique_ptr<ReadableFile> FaultEnv::openReadable(const std::string& path, const ReadLimits& limits) {
  if (fails(EnvCall::OpenRead)) return nullptr;
  std::unique_ptr<ReadableFile> file = target().openReadable(path, limits);
  if (!file) return nullptr;
  return std::make_unique<FaultReadableFile>(*this, std::move(file));
}

std::unique_ptr<WritableFile> FaultEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions) {
  if (fails(EnvCall::OpenWrite)) return nullptr;
  return wrap(target().openWritable(path, mode, permissions));
}

std::unique_ptr<WritableFile> FaultEnv::createTemporary(const std::string& prefix, std::string& name) {
  if (fails(EnvCall::OpenWrite)) return nullptr;
  return wrap(target().createTemporary(prefix, name));
}

bool FaultEnv::rename(const std::string& from, const std::string& to) {
  return !fails(EnvCall::Rename) && target().rename(from, to);
}

bool FaultEnv::removeFile(const std::string& path) { return !fails(EnvCall::RemoveFile) && target().removeFile(path); }

bool FaultEnv::removeDirectory(const std::string& path) {
  return !fails(EnvCall::RemoveDirectory) && target().removeDirectory(path);
}

bool FaultEnv::makeDirectory(const std::string& path, uint32_t mode) {
  return !fails(EnvCall::MakeDirectory) && target().makeDirectory(path, mode);
}

bool FaultEnv::makeSymlink(const std::string& linkTarget, const std::string& path) {
  return !fails(EnvCall::Symlink) && target().makeSymlink(linkTarget, path);
}

bool FaultEnv::changeMode(const std::string& path, uint32_t mode) {
  return !fails(EnvCall::ChangeMode) && target().changeMode(path, mode);
}

bool FaultEnv::syncPath(const std::string& path) { return !fails(EnvCall::Sync) && target().syncPath(path); }

void FaultEnv::syncAll() {
  if (!fails(EnvCall::Sync)) target().syncAll();
}

}  // namespace installer
