#include "platform/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace installer {
namespace {

// Each error the installer decides on has its kind; every other one is an
// I/O error. The reason is the system's own text, the subject kept. A
// refusal made like the system's keeps its kind and the system's words, an
// I/O error those of EIO.
TEST(SystemError, MapsEachErrorToItsKindAndBack) {
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
    Status made = systemError("/d", kind);
    EXPECT_TRUE(made.is(kind)) << code;
    EXPECT_EQ(made.reason(), std::strerror(kind == Kind::IoError ? EIO : code)) << code;
  }
  errno = ENOSPC;
  EXPECT_TRUE(systemError("/ram/t").is(Kind::NoSpace));
}

}  // namespace
}  // namespace installer
