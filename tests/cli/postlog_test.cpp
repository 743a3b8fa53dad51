// The post-run log. Each body runs in its own chrooted child, so the
// process-wide "prepared" flag starts out false every time.
#include "cli/postlog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

#include "support/chroot_runner.h"
#include "support/temp_root.h"

namespace {

std::string readLog() {
  std::ifstream in("/flash/postlog", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Postlog : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to chroot into a test root";
    root.makeDirs("/flash");
  }
  TempRoot root;
};

TEST_F(Postlog, UnpreparedRunAppendsItsMessages) {
  root.writeFile("/flash/postlog", "earlier\n");
  runInChroot(root.path(), [] {
    InstallerState state;
    state.messages = {"one", "WARNING: two", "ERROR: three"};
    EXPECT_TRUE(writePostlog(state));
  });
  EXPECT_EQ(root.readFile("/flash/postlog"), "earlier\none\nWARNING: two\nERROR: three\n");
}

TEST_F(Postlog, UnpreparedRunWithoutLogCreatesIt) {
  runInChroot(root.path(), [] {
    InstallerState state;
    state.messages = {"a", "b", "c"};
    EXPECT_TRUE(writePostlog(state));
  });
  EXPECT_EQ(root.readFile("/flash/postlog"), "a\nb\nc\n");
}

TEST_F(Postlog, NothingToSayTouchesNothing) {
  std::string before = describeTree(root.path());
  runInChroot(root.path(), [] {
    InstallerState state;
    EXPECT_TRUE(writePostlog(state));
  });
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(Postlog, PreparedLogHoldsZerosThenOldLinesBeforeThisRunsMessages) {
  root.writeFile("/flash/postlog", "old one\nold two\nunfinished");
  runInChroot(root.path(), [] {
    InstallerState state;
    state.messages = {"said before preparing"};
    preparePostlog(state);
    EXPECT_EQ(state.messages, (std::vector<std::string>{"old one", "old two", "said before preparing"}));
    EXPECT_EQ(readLog(), std::string(4096, '\0'));
    state.messages.push_back("said after");
    EXPECT_TRUE(writePostlog(state));
  });
  EXPECT_EQ(root.readFile("/flash/postlog"), "old one\nold two\nsaid before preparing\nsaid after\n");
}

TEST_F(Postlog, LogOfZeroBytesLoadsNothingAndIsReplaced) {
  root.writeFile("/flash/postlog", std::string(4096, '\0'));
  runInChroot(root.path(), [] {
    InstallerState state;
    preparePostlog(state);
    EXPECT_TRUE(state.messages.empty());
    EXPECT_EQ(readLog(), std::string(4096, '\0'));
    state.messages = {"ERROR: failed"};
    EXPECT_TRUE(writePostlog(state));
  });
  EXPECT_EQ(root.readFile("/flash/postlog"), "ERROR: failed\n");
}

TEST_F(Postlog, PreparedRunWithoutMessagesLeavesEmptyLog) {
  root.writeFile("/flash/postlog", "partial");
  runInChroot(root.path(), [] {
    InstallerState state;
    preparePostlog(state);
    EXPECT_TRUE(writePostlog(state));
  });
  EXPECT_EQ(root.readFile("/flash/postlog"), "");
}

// A device there reads as empty (or endless) and a fifo would block the
// run: only a plain file is a log.
TEST_F(Postlog, DeviceInPlaceOfTheLogIsNeitherReadNorWritten) {
  runInChroot(root.path(), [] {
    ASSERT_EQ(mknod("/flash/postlog", S_IFCHR | 0666, makedev(1, 3)), 0);  // a null device
    InstallerState state;
    preparePostlog(state);
    state.messages = {"x"};
    EXPECT_FALSE(writePostlog(state));
    struct stat info;
    ASSERT_EQ(stat("/flash/postlog", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
  });
}

TEST_F(Postlog, MissingDirectoryIsNeitherReadNorWritten) {
  runInChroot(root.path(), [] {
    rmdir("/flash");
    InstallerState state;
    preparePostlog(state);
    state.messages = {"x"};
    EXPECT_FALSE(writePostlog(state));
    EXPECT_EQ(state.messages, std::vector<std::string>{"x"});
  });
  EXPECT_FALSE(root.exists("/flash/postlog"));
}

}  // namespace
