#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace installer {

namespace {

Status::Kind kindOf(int code) {
  switch (code) {
    case ENOENT:
      return Status::Kind::NotFound;
    case EEXIST:
      return Status::Kind::Exists;
    case ENOTDIR:
      return Status::Kind::NotDirectory;
    case EISDIR:
      return Status::Kind::IsDirectory;
    case ENOSPC:  // a quota (EDQUOT) is not a full disk: it stays an I/O error
      return Status::Kind::NoSpace;
    case EXDEV:
      return Status::Kind::CrossDevice;
    case ENAMETOOLONG:
      return Status::Kind::NameTooLong;
    case EWOULDBLOCK:
      return Status::Kind::Busy;
    case EIO:
      return Status::Kind::DiskError;
    default:
      return Status::Kind::IoError;
  }
}

int codeOf(Status::Kind kind) {
  switch (kind) {
    case Status::Kind::NotFound:
      return ENOENT;
    case Status::Kind::Exists:
      return EEXIST;
    case Status::Kind::NotDirectory:
      return ENOTDIR;
    case Status::Kind::IsDirectory:
      return EISDIR;
    case Status::Kind::NoSpace:
      return ENOSPC;
    case Status::Kind::CrossDevice:
      return EXDEV;
    case Status::Kind::NameTooLong:
      return ENAMETOOLONG;
    case Status::Kind::Busy:
      return EWOULDBLOCK;
    case Status::Kind::DiskError:
    default:
      return EIO;
  }
}

}  // namespace

Status systemError(const std::string& subject, int code) { return Status(kindOf(code), subject, std::strerror(code)); }

Status systemError(const std::string& subject) { return systemError(subject, errno); }

Status systemError(const std::string& subject, Status::Kind kind) {
  return Status(kind, subject, std::strerror(codeOf(kind)));
}

}  // namespace installer
