// What every run does first: keep to itself, finish what an interrupted run
// left, clear away the temporary files of runs that did not finish.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "cli/installer_main.h"
#include "platform/device_paths.h"
#include "staging/commit_journal.h"
#include "support/recorded_output.h"
#include "support/staging_env.h"
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
  RecordedOutput output;
  EXPECT_EQ(installerMain(env, output, {"--show"}, input), expected);
  return output.printed;
}

// A second run waits for the first a while, then gives up.
TEST(RunStart, SecondRunWaitsThenGivesUp) {
  TestRoot root;
  NoWaitEnv env(root.env());
  std::unique_ptr<FileLock> first;
  ASSERT_TRUE(root.env().lockFile(paths::runLock, first).isOk());
  EXPECT_EQ(runShow(env, ExitFailure), "ERROR: another installer run is in progress, giving up\n");
  EXPECT_EQ(env.waited, 10000u);
  first.reset();
  EXPECT_NE(runShow(env, ExitSuccess).find("Name"), std::string::npos);
}

// The journal of a commit that renames `source` (of inode `inode`) to `path`.
std::string renameJournal(const std::string& path, const std::string& source, uint64_t inode) {
  CommitPlan plan;
  CommitStep& step = plan.steps.emplace_back();
  step.kind = StepKind::Rename;
  step.path = path;
  step.source = source;
  step.inode = inode;
  return journalText(plan);
}

// A journal left by an interrupted commit is finished by any run, which
// says so, also in the post-run log; then the temporary files recorded by
// their full names go, except those a pending manifest names. A file that
// only looks like one ("etc/tmpconfig") is never touched.
TEST(RunStart, FinishesAnInterruptedCommitAndRemovesLeftovers) {
  TestRoot root;
  plant(root, "/flash/tmpAbc123=new /flash/tmpXyz789=left /ram/tmpKeep01=kept /flash/etc/tmpconfig=mine");
  root.write("/ram/MANIFEST", "M /flash/later /ram/tmpKeep01\n");
  FileStatus info;
  ASSERT_TRUE(root.env().linkStatus("/flash/tmpAbc123", info).isOk());
  root.write(paths::commitJournal, renameJournal("/flash/tool", "/flash/tmpAbc123", info.inode));
  root.write(paths::temporaryRegistry, "/flash/tmpXyz789\n/flash/etc/../tmpQwe456\n/flash/gone00\n");
  root.write(paths::volatileTemporaryRegistry, "/ram/tmpKeep01\n");
  std::string out = runShow(root.env(), ExitSuccess);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "finished the commit of an interrupted run\n");
  EXPECT_EQ(root.tree("/flash"),
            "/flash/etc/\n/flash/etc/tmpconfig 644 \"mine\"\n"
            "/flash/postlog 644 \"finished the commit of an interrupted run\\n\"\n"
            "/flash/tool 644 \"new\"\n/flash/var/\n/flash/var/pdb/\n");
  EXPECT_EQ(root.read(paths::volatileTemporaryRegistry), "/ram/tmpKeep01\n");
  root.write("/ram/MANIFEST", "");
  runShow(root.env(), ExitSuccess);
  EXPECT_FALSE(root.exists("/ram/tmpKeep01"));
  EXPECT_FALSE(root.exists(paths::volatileTemporaryRegistry));
}

// The journal and the registries are the installer's own plain files: a
// link, a FIFO with a writer that never writes, or one past its bound is
// not read. Such a journal is refused with a clear message, removed, and
// nothing moves, and the run goes on; such a registry names no file, so
// nothing is swept.
TEST(RunStart, OddJournalOrRegistryIsNotRead) {
  const std::string journal = renameJournal("/flash/tool", "/flash/tmpAbc123", 1);
  for (const std::string odd : {"link", "fifo", "long"}) {
    for (const char* path : {paths::commitJournal, paths::temporaryRegistry}) {
      SCOPED_TRACE(odd + " " + path);
      TestRoot root;
      root.write("/flash/tmpAbc123", "new");
      std::string contents = path == paths::temporaryRegistry ? "/flash/tmpAbc123\n" : journal;
      if (odd == "link") root.write("/flash/plain", contents), root.symlink(path, "/flash/plain");
      ASSERT_EQ(odd == "fifo" ? mkfifo(root.host(path).c_str(), 0644) : 0, 0);
      if (odd == "long") root.write(path, contents + std::string(8 << 20, '\n'));
      int writer = odd == "fifo" ? open(root.host(path).c_str(), O_RDWR) : -1;
      std::string out = runShow(root.env(), ExitSuccess);
      if (writer >= 0) close(writer);
      if (path == paths::commitJournal) {
        EXPECT_EQ(out.substr(0, out.find('\n') + 1),
                  "ERROR: refusing /flash/var/pdb/.installer-journal, nothing of it is done: it is no regular file "
                  "of at most 8 MiB\n");
        EXPECT_FALSE(root.exists(path));
      }
      EXPECT_EQ(root.read("/flash/tmpAbc123"), "new");
      EXPECT_FALSE(root.exists("/flash/tool"));
    }
  }
}

}  // namespace
}  // namespace installer
