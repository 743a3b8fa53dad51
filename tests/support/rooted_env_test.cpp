#include "support/rooted_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

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
  EXPECT_TRUE(env.status("/a/rel", info).isOk() && env.linkStatus("/a/rel", link).isOk() && info.size == 4 &&
              link.size == 6);
  std::unique_ptr<WritableFile> file;
  EXPECT_TRUE(env.openWritable("/dangling", WriteMode::CreateNew, 0600, file).is(Status::Kind::Exists) &&
              env.openWritable("/dangling", WriteMode::Truncate, 0600, file).isOk() && env.removeFile("/a/rel").isOk());
  std::vector<std::string> names;
  SpaceStatus space;
  auto rewrite = [&env](const char* path, const std::string& contents) {
    std::unique_ptr<WritableFile> rewritten;
    return env.openWritable(path, WriteMode::Existing, 0, rewritten).isOk() &&
           rewritten->append(contents.data(), contents.size()).isOk() && rewritten->close().isOk();
  };
  EXPECT_TRUE(env.makeDirectory("/a/d", 0700).isOk() && env.makeSymlink("x", "/a/d/l").isOk() &&
              env.rename("/a/d/l", "/a/d/m").isOk() && env.listDirectory("/a/d", names).isOk() &&
              names == std::vector<std::string>{"m"} && env.removeFile("/a/d/m").isOk() &&
              env.removeDirectory("/a/d").isOk() && rewrite("/a/b/file", "da") &&
              env.changeMode("/a/b/file", 0600).isOk() && env.syncPath("/a/b/file").isOk() &&
              env.spaceStatus("/", space).isOk() && space.blockSize > 0);
  EXPECT_TRUE(root.tree("/a") == "/a/b/\n/a/b/abs -> /a\n/a/b/file 600 \"da\"\n/a/up -> ../../../etc\n" &&
              root.exists("/none"));
  EXPECT_TRUE(env.createTemporary("/a/b/abs/t.", name, file).isOk() && name.size() == 17 &&
              root.exists("/a/" + name.substr(9)));
  env.setVariable("HOME", "/flash");
  EXPECT_TRUE(env.variable("PATH") == nullptr && std::string(env.variable("HOME")) == "/flash") << "not the host's";
  EXPECT_TRUE(env.changeRoot("/missing").is(Status::Kind::NotFound) &&
              env.changeRoot("/a/b/file").is(Status::Kind::NotDirectory));
  EXPECT_TRUE(env.changeRoot("/a/b/").isOk() && env.root() == root.path() + "/a/b" && env.changeDirectory("/").isOk() &&
              !env.changeDirectory("/file").isOk() && env.exists("/file") && !env.exists("/abs/b/file"));
}

}  // namespace
}  // namespace installer
