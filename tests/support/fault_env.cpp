#include "support/fault_env.h"

#include "platform/system_error.h"

namespace installer {

namespace {

class FaultReadableFile : public ReadableFile {
 public:
  FaultReadableFile(FaultEnv& owner, std::unique_ptr<ReadableFile> opened, std::string name)
      : env(owner), file(std::move(opened)), path(std::move(name)) {}
  Status read(char* bytes, size_t n, size_t& count) override {
    count = 0;
    return env.unlessFailing(EnvCall::Read, path, [&] { return file->read(bytes, n, count); });
  }
  Status seek(int64_t offset, int whence, int64_t& position) override { return file->seek(offset, whence, position); }

 private:
  FaultEnv& env;
  std::unique_ptr<ReadableFile> file;
  std::string path;
};

class FaultWritableFile : public WritableFile {
 public:
  FaultWritableFile(FaultEnv& owner, std::unique_ptr<WritableFile> opened, std::string name)
      : env(owner), file(std::move(opened)), path(std::move(name)) {}
  Status append(const char* bytes, size_t n) override {
    return env.unlessFailing(EnvCall::Write, path, [&] { return file->append(bytes, n); });
  }
  Status sync() override {
    return env.unlessFailing(EnvCall::Sync, path, [&] { return file->sync(); });
  }
  Status close() override { return file->close(); }

 private:
  FaultEnv& env;
  std::unique_ptr<WritableFile> file;
  std::string path;
};

}  // namespace

void FaultEnv::failAt(EnvCall call, size_t n, int error) {
  failing[index(call)] = n;
  errors[index(call)] = error;
}

Status FaultEnv::fails(EnvCall call, const std::string& subject) {
  size_t i = index(call);
  if (++counts[i] != failing[i]) return Status::ok();
  return systemError(subject, errors[i]);
}

std::unique_ptr<WritableFile> FaultEnv::wrap(std::unique_ptr<WritableFile> file, const std::string& path) {
  return std::make_unique<FaultWritableFile>(*this, std::move(file), path);
}

Status FaultEnv::openReadable(const std::string& path, const ReadLimits& limits, std::unique_ptr<ReadableFile>& file) {
  Status failure = fails(EnvCall::OpenRead, path);
  if (!failure.isOk()) return failure;
  std::unique_ptr<ReadableFile> opened;
  Status status = target().openReadable(path, limits, opened);
  if (status.isOk()) file = std::make_unique<FaultReadableFile>(*this, std::move(opened), path);
  return status;
}

Status FaultEnv::openWritable(const std::string& path, WriteMode mode, uint32_t permissions,
                              std::unique_ptr<WritableFile>& file) {
  Status failure = fails(EnvCall::OpenWrite, path);
  if (!failure.isOk()) return failure;
  std::unique_ptr<WritableFile> opened;
  Status status = target().openWritable(path, mode, permissions, opened);
  if (status.isOk()) file = wrap(std::move(opened), path);
  return status;
}

Status FaultEnv::createTemporary(const std::string& prefix, std::string& name, std::unique_ptr<WritableFile>& file) {
  Status failure = fails(EnvCall::OpenWrite, prefix);
  if (!failure.isOk()) return failure;
  std::unique_ptr<WritableFile> opened;
  Status status = target().createTemporary(prefix, name, opened);
  if (status.isOk()) file = wrap(std::move(opened), name);
  return status;
}

Status FaultEnv::rename(const std::string& from, const std::string& to) {
  return unlessFailing(EnvCall::Rename, to, [&] { return target().rename(from, to); });
}

Status FaultEnv::removeFile(const std::string& path) {
  return unlessFailing(EnvCall::RemoveFile, path, [&] { return target().removeFile(path); });
}

Status FaultEnv::removeDirectory(const std::string& path) {
  return unlessFailing(EnvCall::RemoveDirectory, path, [&] { return target().removeDirectory(path); });
}

Status FaultEnv::makeDirectory(const std::string& path, uint32_t mode) {
  return unlessFailing(EnvCall::MakeDirectory, path, [&] { return target().makeDirectory(path, mode); });
}

Status FaultEnv::makeSymlink(const std::string& linkTarget, const std::string& path) {
  return unlessFailing(EnvCall::Symlink, path, [&] { return target().makeSymlink(linkTarget, path); });
}

Status FaultEnv::changeMode(const std::string& path, uint32_t mode) {
  return unlessFailing(EnvCall::ChangeMode, path, [&] { return target().changeMode(path, mode); });
}

Status FaultEnv::syncPath(const std::string& path) {
  return unlessFailing(EnvCall::Sync, path, [&] { return target().syncPath(path); });
}

void FaultEnv::syncAll() {
  if (fails(EnvCall::Sync, "").isOk()) target().syncAll();
}

}  // namespace installer
