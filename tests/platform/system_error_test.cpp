#include "platform/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace installer {
namespace {

// Each error the installer decides on has its kind; every other one is an
// I/O error. The reason is the system's own text, the subject kept.
TEST(SystemError, MapsEachErrorToItsKind) {
  using Kind = Status::Kind;
  const std::pair<int, Kind> table[] = {
      {ENOENT, Kind::NotFound},      {EEXIST, Kind::Exists},
      {ENOTDIR, Kind::NotDirectory}, {EISDIR, Kind::IsDirectory},
      {ENOSPC, Kind::NoSpace},       {EDQUOT, Kind::IoError},
      {EXDEV, Kind::CrossDevice},    {ENAMETOOLONG, Kind::NameTooLong},
      {EWOULDBLOCK, Kind::Busy},     {EIO, Kind::DiskError},
      {EACCES, Kind::IoError},       {ELOOP, Kind::IoError},
      {EFBIG, Kind::IoError},        {EINVAL, Kind::IoError},
      {EROFS, Kind::IoError},
  };
  for (auto [code, kind] : table) {
    Status status = systemError("/flash/x", code);
    EXPECT_TRUE(status.is(kind)) << code;
    EXPECT_EQ(status.toString(), std::string("/flash/x: ") + std::strerror(code)) << code;
  }
  errno = ENOSPC;
  EXPECT_TRUE(systemError("/ram/t").is(Kind::NoSpace));
}

// A refusal made like the system's keeps its kind and the system's words.
TEST(SystemError, WordsAKindAsTheSystemWould) {
  using Kind = Status::Kind;
  const std::pair<Kind, int> table[] = {
      {Kind::NotDirectory, ENOTDIR}, {Kind::IsDirectory, EISDIR}, {Kind::NotFound, ENOENT},
      {Kind::Exists, EEXIST},        {Kind::NoSpace, ENOSPC},     {Kind::IoError, EIO},
  };
  for (auto [kind, code] : table) {
    Status status = systemError("/d", kind);
    EXPECT_TRUE(status.is(kind));
    EXPECT_EQ(status.reason(), std::strerror(code));
  }
}

}  // namespace
}  // namespace installer
