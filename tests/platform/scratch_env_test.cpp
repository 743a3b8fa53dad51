#include "platform/scratch_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "support/call_outcome.h"
#include "support/status_assertions.h"

namespace installer {
namespace {

// One device, one call after the other: what each call gives (or the error
// it fails with), as the system call would.
TEST(ScratchEnv, AnswersAsTheSystemCalls) {
  ScratchEnv env(16);
  FileStatus info;
  std::vector<std::string> names;
  std::string text;
  char byte;
  size_t count = 0;
  std::unique_ptr<ReadableFile> in;
  std::unique_ptr<FileLock> held, again;
  CallOutcome outcome;
  auto seen = [&outcome](const Status& status) { return outcome.seen(status); };
  auto write = [&env, &seen](const char* path, WriteMode mode, const char* data) {
    std::unique_ptr<WritableFile> file;
    return seen(env.openWritable(path, mode, 0666, file)) && seen(file->append(data, std::strlen(data)));
  };
  const std::pair<std::function<bool()>, int> cases[] = {
      {[&] {
         return seen(env.addFile("/a/b/file", "1234")) && seen(env.addFile("/a-b", "")) &&
                seen(env.status("/a/b", info));
       },
       0},
      {[&] { return write("/a/b/file", WriteMode::CreateNew, ""); }, EEXIST},
      {[&] { return write("/a/none/x", WriteMode::Truncate, ""); }, ENOENT},
      {[&] { return write("/a/b/file/x", WriteMode::Truncate, ""); }, ENOTDIR},
      {[&] { return seen(env.status("/a/b/file/", info)); }, ENOTDIR},
      {[&] { return write("/a/new", WriteMode::Existing, ""); }, ENOENT},
      {[&] { return write("/a/b", WriteMode::Append, ""); }, EISDIR},
      {[&] { return seen(env.openReadable("/a/b", ReadLimits(), in)) && seen(in->read(&byte, 1, count)); }, EISDIR},
      {[&] { return write("/a/b/file", WriteMode::Append, "5678901234"); }, 0},
      {[&] { return write("/a/two", WriteMode::CreateNew, "12") && seen(env.removeFile("/a/two")); }, 0},  // 14 held
      {[&] { return write("/a/big", WriteMode::Truncate, "123"); }, ENOSPC},  // 16 bytes in all
      {[&] { return write("/a/b/file", WriteMode::Append, "567"); }, ENOSPC},
      {[&] { return seen(env.makeSymlink("/a/b", "/l")) && seen(env.makeSymlink("/loop", "/loop")); }, ENOSPC},
      {[&] { return seen(env.removeFile("/a/big")) && write("/a/b/file", WriteMode::Existing, "1234"); }, 0},
      {[&] { return seen(env.makeSymlink("/loop", "/loop")); }, 0},
      {[&] { return seen(env.makeSymlink("b", "/a/l")) && seen(env.status("/a/l/file", info)) && info.size == 4; }, 0},
      {[&] { return seen(env.status("/loop/x", info)); }, ELOOP},
      {[&] {
         return seen(env.linkStatus("/a/l", info)) && info.type == FileType::Symlink &&
                seen(env.readSymlink("/a/l", text));
       },
       0},
      {[&] { return seen(env.readSymlink("/a/b", text)); }, EINVAL},
      {[&] { return seen(env.removeDirectory("/a")); }, ENOTEMPTY},
      {[&] { return seen(env.rename("/a", "/a-b")); }, ENOTDIR},
      {[&] { return seen(env.rename("/a", "/a/b/c")); }, EINVAL},
      {[&] {
         return seen(env.rename("/a", "/z")) && seen(env.listDirectory("/", names)) &&
                seen(env.status("/z/b/file", info)) && names == std::vector<std::string>{"a-b", "loop", "z"} &&
                !env.exists("/a/b");
       },
       0},
      {[&] {
         bool both = seen(env.lockFile("/lock", held)) && seen(env.lockFile("/lock", again));
         held.reset();
         return both;
       },
       EWOULDBLOCK},  // the first is still held
      {[&] { return seen(env.lockFile("/lock", again)); }, 0},
      {[&] { return seen(env.changeRoot("/z/b")) && seen(env.status("/../file", info)) && !env.exists("/z"); }, 0},
      {[&] { return seen(env.removeDirectory("/")); }, EBUSY},
  };
  int row = 0;
  for (const auto& [call, error] : cases) {
    outcome.reset();
    bool done = call();
    EXPECT_EQ(outcome.of(done), CallOutcome::expected(error)) << "row " << row++;
  }
}

// A reader stops at the end, where a read gives nothing and no error (a
// count left over would make it read on for ever); a directory gives
// nothing but its error.
TEST(ScratchEnv, ReadGivesNothingAtTheEnd) {
  ScratchEnv env(16);
  ASSERT_TRUE(isOk(env.addFile("/d/f", "abc")));
  std::unique_ptr<ReadableFile> file, directory;
  ASSERT_TRUE(isOk(env.openReadable("/d/f", ReadLimits(), file)));
  char bytes[8];
  size_t count = 0;
  EXPECT_TRUE(isOk(file->read(bytes, sizeof bytes, count)));
  EXPECT_EQ(std::string(bytes, count), "abc");
  EXPECT_TRUE(isOk(file->read(bytes, sizeof bytes, count)));
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(isOk(env.openReadable("/d", ReadLimits(), directory)));
  EXPECT_TRUE(failsWith(directory->read(bytes, sizeof bytes, count), Status::Kind::IsDirectory));
  EXPECT_EQ(count, 0u);
}

// A file closed takes no more writes.
TEST(ScratchEnv, ClosedFileRefusesWrites) {
  ScratchEnv env(16);
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(isOk(env.openWritable("/f", WriteMode::CreateNew, 0644, file)));
  EXPECT_TRUE(isOk(file->close()));
  EXPECT_FALSE(file->append("x", 1).isOk());
  EXPECT_FALSE(file->sync().isOk());
}

}  // namespace
}  // namespace installer
