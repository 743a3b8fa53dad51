#include "support/rooted_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/status_assertions.h"
#include "support/test_root.h"

namespace installer {
namespace {

std::string failure(const Status& status) {
  if (status.reason() == std::strerror(ELOOP)) return "ELOOP";
  return status.is(Status::Kind::NotFound) ? "ENOENT" : status.reason();
}

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
  struct Case {
    const char* path;
    bool followLast;
    const char* expected;
  };
  const Case cases[] = {
      {"/a/b/abs/rel", true, "/a/b/file"},
      {"/a/up/passwd", true, "/etc/passwd"},
      {"a/b/abs/", false, "/a/"},
      {"/loop/x", false, "ELOOP"},
  };
  std::string host, name;
  for (auto [path, followLast, expected] : cases) {
    Status resolved = env.resolve(path, followLast, host);
    EXPECT_EQ(resolved.isOk() ? host.erase(0, root.path().size()) : failure(resolved), expected) << path;
  }
  FileStatus info, link;
  ASSERT_TRUE(isOk(env.status("/a/rel", info)));
  ASSERT_TRUE(isOk(env.linkStatus("/a/rel", link)));
  EXPECT_EQ(info.size, 4u) << "the file the link leads to";
  EXPECT_EQ(link.size, 6u) << "the link itself";
  std::unique_ptr<WritableFile> file;
  EXPECT_TRUE(failsWith(env.openWritable("/dangling", WriteMode::CreateNew, 0600, file), Status::Kind::Exists));
  EXPECT_TRUE(isOk(env.openWritable("/dangling", WriteMode::Truncate, 0600, file)));
  EXPECT_TRUE(isOk(env.removeFile("/a/rel")));
  EXPECT_TRUE(isOk(env.makeSymlink("x", "/a/l")));
  EXPECT_TRUE(isOk(env.rename("/a/l", "/a/m")));
  EXPECT_TRUE(isOk(env.changeMode("/a/b/file", 0600)));
  EXPECT_EQ(root.tree("/a"), "/a/b/\n/a/b/abs -> /a\n/a/b/file 600 \"data\"\n/a/m -> x\n/a/up -> ../../../etc\n");
  EXPECT_TRUE(root.exists("/none"));
  ASSERT_TRUE(isOk(env.createTemporary("/a/b/abs/t.", name, file)));
  EXPECT_EQ(name.size(), 17u) << name;
  EXPECT_TRUE(root.exists("/a/" + name.substr(9))) << name;
  env.setVariable("HOME", "/flash");
  EXPECT_EQ(env.variable("PATH"), nullptr) << "not the host's";
  EXPECT_STREQ(env.variable("HOME"), "/flash");
  EXPECT_TRUE(failsWith(env.changeRoot("/missing"), Status::Kind::NotFound));
  EXPECT_TRUE(failsWith(env.changeRoot("/a/b/file"), Status::Kind::NotDirectory));
  ASSERT_TRUE(isOk(env.changeRoot("/a/b/")));
  EXPECT_EQ(env.root(), root.path() + "/a/b");
  EXPECT_TRUE(isOk(env.changeDirectory("/")));
  EXPECT_FALSE(env.changeDirectory("/file").isOk()) << "a file is no directory";
  EXPECT_TRUE(env.exists("/file"));
  EXPECT_FALSE(env.exists("/abs/b/file")) << "the old root is out of reach";
}

}  // namespace
}  // namespace installer
