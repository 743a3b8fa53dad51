#include "system_error.h"

#include <cerrno>
#include <cstring>

namespace installer {

namespace {

Status::Kind kindOf(int error) {
  switch (error) {
    case ENOENT:
      return Status::Kind::NotFound;
    case EEXIST:
      return Status::Kind::Exists;
    case ENOTDIR:
      return Status::Kind::NotDirectory;
    case EISDIR:
      return Status::Kind::IsDirectory;
    case ENOSPC:
    case EDQUOT:
      return Status::Kind::NoSpace;
    case EXDEV:
      return Status::Kind::CrossDevice;
    default:
      return Status::Kind::IoError;
  }
}

}  // namespace

Status systemError(const std::string& subject, const std::string& doing) {
  int error = errno;
  std::string words = std::strerror(error);
  return Status(kindOf(error), subject, doing.empty() ? words : doing + ": " + words);
}

Status within(const std::string& subject, const Status& cause) {
  return Status(cause.kind(), subject, cause.toString());
}

}  // namespace installer
