#include "support/rooted_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/test_root.h"

namespace installer {
namespace {

std::string failure() { return errno == ELOOP ? "ELOOP" : errno == ENOENT ? "ENOENT" : std::strerror(errno); }

// Absolute link targets start again at the root, relative ones at the link's
// directory, and ".." stops at the root: nothing leads out of it. Each call
// follows the last component where its system call would. Temporary names,
// variables and a changed root belong to the device too.
TEST(RootedEnv, BehavesAsAfterChroot) {
  TestRoot root;
  RootedEnv& env = root.env();
  root.write("/a/b/file", "data");
  root.symlink("/a/rel", "b/file");
  root.symlink("/a/b/abs", "/a");
  root.symlink("/a/up", "../../../etc");
  root.symlink("/dangling", "/none");
  root.symlink("/loop", "/loop");
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"/a/b/abs/rel", true, "/a/b/file"},
      {"/a/up/passwd", true, "/etc/passwd"},
      {"a/b/abs/", false, "/a/"},
      {"/loop/x", false, "ELOOP"},
  };
  std::string host, name;
  for (auto [path, followLast, expected] : cases)
    EXPECT_EQ(env.resolve(path, followLast, host) ? host.erase(0, root.path().size()) : failure(), expected) << path;
  FileStatus info, link;
  EXPECT_TRUE(env.status("/a/rel", info) && env.linkStatus("/a/rel", link) && info.size == 4 && link.size == 6);
  EXPECT_TRUE(!env.openWritable("/dangling", WriteMode::CreateNew, 0600) && errno == EEXIST &&
              env.openWritable("/dangling", WriteMode::Truncate, 0600) && env.removeFile("/a/rel"));
  std::vector<std::string> names;
  SpaceStatus space;
  auto rewrite = [&env](const char* path, const std::string& contents) {
    std::unique_ptr<WritableFile> file = env.openWritable(path, WriteMode::Existing, 0);
    return file && file->append(contents.data(), contents.size()) && file->close();
  };
  EXPECT_TRUE(env.makeDirectory("/a/d", 0700) && env.makeSymlink("x", "/a/d/l") && env.rename("/a/d/l", "/a/d/m") &&
              env.listDirectory("/a/d", names) && names == std::vector<std::string>{"m"} && env.removeFile("/a/d/m") &&
              env.removeDirectory("/a/d") && rewrite("/a/b/file", "da") && env.changeMode("/a/b/file", 0600) &&
              env.syncPath("/a/b/file") && env.spaceStatus("/", space) && space.blockSize > 0);
  EXPECT_TRUE(root.tree("/a") == "/a/b/\n/a/b/abs -> /a\n/a/b/file 600 \"da\"\n/a/up -> ../../../etc\n" &&
              root.exists("/none"));
  EXPECT_TRUE(env.createTemporary("/a/b/abs/t.", name) && name.size() == 17 && root.exists("/a/" + name.substr(9)));
  env.setVariable("HOME", "/flash");
  EXPECT_TRUE(env.variable("PATH") == nullptr && std::string(env.variable("HOME")) == "/flash") << "not the host's";
  EXPECT_TRUE(!env.changeRoot("/missing") && errno == ENOENT && !env.changeRoot("/a/b/file") && errno == ENOTDIR);
  EXPECT_TRUE(env.changeRoot("/a/b/") && env.root() == root.path() + "/a/b" && env.changeDirectory("/") &&
              !env.changeDirectory("/file") && env.exists("/file") && !env.exists("/abs/b/file"));
}

}  // namespace
}  // namespace installer
