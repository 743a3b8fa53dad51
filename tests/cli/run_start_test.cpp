// What every run does first: keep to itself, finish what an interrupted run
// left, clear away the temporary files of runs that did not finish.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "cli/run_modes.h"
#include "platform/device_paths.h"
#include "support/test_root.h"

namespace installer {
namespace {

// Waiting takes no time here.
class NoWaitEnv : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  void sleepMilliseconds(unsigned milliseconds) override { waited += milliseconds; }
  unsigned waited = 0;
};

std::string runShow(Env& env, int expected) {
  std::istringstream input;
  testing::internal::CaptureStdout();
  EXPECT_EQ(installerMain(env, {"--show"}, input), expected);
  return testing::internal::GetCapturedStdout();
}

// A second run waits for the first a while, then gives up.
TEST(RunStart, SecondRunWaitsThenGivesUp) {
  TestRoot root;
  NoWaitEnv env(root.env());
  std::unique_ptr<FileLock> first = root.env().lockFile(paths::runLock);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(runShow(env, ExitFailure), "ERROR: another installer run is in progress, giving up\n");
  EXPECT_EQ(env.waited, 10000u);
  first.reset();
  EXPECT_NE(runShow(env, ExitSuccess).find("Name"), std::string::npos);
}

// A journal left by an interrupted commit is finished by any run, which
// says so, also in the post-run log; the temporary files that the recorded
// directories still hold go, except those a pending manifest names.
TEST(RunStart, FinishesAnInterruptedCommitAndRemovesLeftovers) {
  TestRoot root;
  root.write("/flash/tmpAbc123", "new");
  root.write("/flash/tmpXyz789", "left over");
  root.write("/ram/tmpKeep01", "for the manifest");
  root.write("/ram/MANIFEST", "M /flash/later /ram/tmpKeep01\n");
  root.write(paths::commitJournal, "M /flash/tool /flash/tmpAbc123\n");
  root.write(paths::temporaryRegistry, "/flash\n/ram\n");
  std::string out = runShow(root.env(), ExitSuccess);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "finished the commit of an interrupted run\n");
  EXPECT_EQ(root.tree("/flash"), "/flash/.installer-temporaries 644 \"/flash\\n/ram\\n\"\n"
                                 "/flash/postlog 644 \"finished the commit of an interrupted run\\n\"\n"
                                 "/flash/tool 644 \"new\"\n/flash/var/\n/flash/var/pdb/\n");
  EXPECT_TRUE(root.exists("/ram/tmpKeep01"));
  root.write("/ram/MANIFEST", "");
  runShow(root.env(), ExitSuccess);
  EXPECT_FALSE(root.exists("/ram/tmpKeep01"));
  EXPECT_FALSE(root.exists(paths::temporaryRegistry));
}

// The journal and the registry are the installer's own plain files: a link,
// a FIFO with a writer that never writes, or one past its bound is not read.
// Such a journal stops the run with a clear message, and nothing moves; such
// a registry names no directory, so nothing is swept.
TEST(RunStart, OddJournalOrRegistryIsNotRead) {
  const std::string journal = "M /flash/tool /flash/tmpAbc123\n";
  for (const char* odd : {"link", "fifo", "long"}) {
    for (const char* path : {paths::commitJournal, paths::temporaryRegistry}) {
      TestRoot root;
      root.write("/flash/tmpAbc123", "new");
      std::string contents = path == paths::temporaryRegistry ? "/flash\n" : journal;
      if (std::string(odd) == "link") {
        root.write("/flash/plain", contents);
        root.symlink(path, "plain");
      } else if (std::string(odd) == "fifo") {
        ASSERT_EQ(mkfifo(root.host(path).c_str(), 0644), 0);
      } else {
        root.write(path, contents + std::string(8 << 20, '\n'));
      }
      int writer = std::string(odd) == "fifo" ? open(root.host(path).c_str(), O_RDWR) : -1;
      std::string out = runShow(root.env(), path == paths::commitJournal ? ExitFailure : ExitSuccess);
      if (writer >= 0) close(writer);
      if (path == paths::commitJournal) {
        EXPECT_EQ(out, "ERROR: cannot read /flash/.installer-journal: the interrupted commit cannot be finished\n")
            << odd;
      }
      EXPECT_TRUE(root.exists("/flash/tmpAbc123") && !root.exists("/flash/tool")) << path << " " << odd;
    }
  }
}

}  // namespace
}  // namespace installer
