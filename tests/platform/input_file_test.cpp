#include "platform/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/host_files.h"

namespace installer {
namespace {

// A read that fails ends the data like the end of the file, but says so; a
// FIFO without a writer opens at once instead of hanging the run (on the
// running system: that is the system's doing).
TEST(InputFile, ReadsSeeksAndTellsAReadErrorFromTheEnd) {
  std::string root = makeHostTempDir(), data, head(3, ' '), rest(36000, ' ');
  for (int i = 0; i < 40000; ++i) data += static_cast<char>('a' + i % 26);
  writeHostFile(root + "/data", data);
  ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);
  Env& env = Env::posix();
  InputFile file(env, root + "/data"), dir(env, root), fifo(env, root + "/fifo"), none(env, root + "/x");
  file.read(&head[0], 3).read(&rest[0], 36000).seekg(1, std::ios::cur);  // most of `rest` bypasses the buffer
  EXPECT_EQ(head + rest, data.substr(0, 36003));
  EXPECT_EQ(file.get(), data[36004]);
  EXPECT_EQ(static_cast<long long>(file.tellg()), 36005);
  EXPECT_TRUE(file.seekg(-1, std::ios::end));
  EXPECT_EQ(file.get(), data.back());
  EXPECT_EQ(file.get(), EOF);
  EXPECT_FALSE(file.readError()) << "the end of a file is no error";
  EXPECT_EQ(dir.get(), EOF);
  EXPECT_TRUE(dir.readError()) << "a directory cannot be read";
  EXPECT_EQ(fifo.get(), EOF);
  EXPECT_FALSE(fifo.readError());
  EXPECT_TRUE(none.fail());
  removeHostTree(root);
}

// The limits hold on the running system too: a link is refused where links
// are not followed, a device or a FIFO where only regular files are read,
// a file longer than the bound as a whole; a file within it reads whole.
TEST(InputFile, LimitsRefuseLinksDevicesFifosAndOverlongFiles) {
  std::string dir = makeHostTempDir();
  writeHostFile(dir + "/four", "four");
  ASSERT_EQ(symlink("/dev/zero", (dir + "/zero").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    ReadLimits limits;
    int error;  // 0: opens
  } cases[] = {
      {dir + "/zero", {false, false, 10}, ELOOP},
      {dir + "/zero", {true, true, 10}, EINVAL},
      {"/dev/zero", {true, true, 10}, EINVAL},
      {dir + "/fifo", {true, true, 10}, EINVAL},
      {dir + "/four", {false, true, 3}, EFBIG},
      {dir + "/four", {false, true, 4}, 0},
      {dir, {true, true, 4}, EINVAL},
  };
  for (const auto& c : cases) {
    InputFile file(Env::posix(), c.path, c.limits);
    EXPECT_EQ(file.is_open(), c.error == 0) << c.path << " " << c.limits.maxBytes;
    EXPECT_EQ(file.status().reason(), c.error == 0 ? "" : std::strerror(c.error)) << c.path << " " << c.limits.maxBytes;
  }
  std::string all;
  EXPECT_TRUE(std::getline(InputFile(Env::posix(), dir + "/four", {false, true, 4}), all));
  EXPECT_EQ(all, "four");
  removeHostTree(dir);
}

}  // namespace
}  // namespace installer
