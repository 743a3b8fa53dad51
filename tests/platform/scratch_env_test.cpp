#include "platform/scratch_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace installer {
namespace {

// One device, one call after the other: what each call gives (or the errno
// it fails with), as the system call would.
TEST(ScratchEnv, AnswersAsTheSystemCalls) {
  ScratchEnv env(16);
  FileStatus info;
  std::vector<std::string> names;
  std::string text;
  char byte;
  auto write = [&env](const char* path, WriteMode mode, const char* data) {
    auto file = env.openWritable(path, mode, 0666);
    return file && file->append(data, std::strlen(data));
  };
  const std::pair<std::function<bool()>, int> cases[] = {
      {[&] { return env.addFile("/a/b/file", "1234") && env.addFile("/a-b", "") && env.status("/a/b", info); }, 0},
      {[&] { return write("/a/b/file", WriteMode::CreateNew, ""); }, EEXIST},
      {[&] { return write("/a/none/x", WriteMode::Truncate, ""); }, ENOENT},
      {[&] { return write("/a/b/file/x", WriteMode::Truncate, ""); }, ENOTDIR},
      {[&] { return write("/a/new", WriteMode::Existing, ""); }, ENOENT},
      {[&] { return write("/a/b", WriteMode::Append, ""); }, EISDIR},
      {[&] { return env.openReadable("/a/b")->read(&byte, 1) >= 0; }, EISDIR},
      {[&] { return write("/a/b/file", WriteMode::Append, "5678901234"); }, 0},
      {[&] { return write("/a/two", WriteMode::CreateNew, "12") && env.removeFile("/a/two"); }, 0},  // 14 held
      {[&] { return write("/a/big", WriteMode::Truncate, "123"); }, ENOSPC},  // 16 bytes in all
      {[&] { return write("/a/b/file", WriteMode::Append, "567"); }, ENOSPC},
      {[&] { return env.makeSymlink("/a/b", "/l") && env.makeSymlink("/loop", "/loop"); }, ENOSPC},
      {[&] { return env.removeFile("/a/big") && write("/a/b/file", WriteMode::Existing, "1234"); }, 0},
      {[&] { return env.makeSymlink("/loop", "/loop"); }, 0},
      {[&] { return env.makeSymlink("b", "/a/l") && env.status("/a/l/file", info) && info.size == 4; }, 0},
      {[&] { return env.status("/loop/x", info); }, ELOOP},
      {[&] { return env.linkStatus("/a/l", info) && info.type == FileType::Symlink && env.readSymlink("/a/l", text); }, 0},
      {[&] { return env.readSymlink("/a/b", text); }, EINVAL},
      {[&] { return env.removeDirectory("/a"); }, ENOTEMPTY},
      {[&] { return env.rename("/a", "/a-b"); }, ENOTDIR},
      {[&] { return env.rename("/a", "/a/b/c"); }, EINVAL},
      {[&] { return env.rename("/a", "/z") && env.listDirectory("/", names) && env.status("/z/b/file", info); }, 0},
      {[&] { return names == std::vector<std::string>{"a-b", "loop", "z"} && !env.exists("/a/b"); }, 0},
      {[&] { return env.lockFile("/lock") && env.lockFile("/lock"); }, EWOULDBLOCK},  // the first is still held
      {[&] { return env.lockFile("/lock") != nullptr; }, 0},
      {[&] { return env.changeRoot("/z/b") && env.status("/../file", info) && !env.exists("/z"); }, 0},
      {[&] { return env.removeDirectory("/"); }, EBUSY},
  };
  int row = 0;
  for (const auto& [call, error] : cases) {
    errno = 0;
    bool done = call();
    EXPECT_EQ(done ? 0 : errno, error) << "row " << row++;
  }
}

}  // namespace
}  // namespace installer
