// What every run does first: keep to itself, finish what an interrupted run
// left, clear away the temporary files of runs that did not finish.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace installer
