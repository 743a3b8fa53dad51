// What every run does first: keep to itself, finish what an interrupted run
// left, clear away the temporary files of runs that did not finish.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/installer_main.h"
#include "platform/device_paths.h"
#include "staging/commit_journal.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/staging_env.h"

namespace installer {
namespace {

// Waiting takes no time here.
class NoWaitEnv : public EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  void sleepMilliseconds(unsigned milliseconds) override { waited += milliseconds; }
  unsigned waited = 0;
};

std::string contentsOf(const SimulatedDevice& device, const std::string& path) {
  std::string contents;
  EXPECT_TRUE(device.read(path, contents)) << path;
  return contents;
}

std::string runShow(Env& env, int expected) {
  std::istringstream input;
  RecordedOutput output;
  EXPECT_EQ(installerMain(env, output, {"--show"}, input), expected);
  return output.printed;
}

// A second run waits for the first a while, then gives up.
TEST(RunStart, SecondRunWaitsThenGivesUp) {
  auto device = routerDevice(4096, 1 << 20);
  NoWaitEnv env(*device);
  std::unique_ptr<FileLock> first;
  ASSERT_TRUE(device->lockFile(paths::runLock, first).isOk());
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
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& root = *device;
  ASSERT_TRUE(plant(root, "/flash/tmpAbc123=new /flash/tmpXyz789=left /ram/tmpKeep01=kept /flash/etc/tmpconfig=mine"));
  FileStatus info;
  ASSERT_TRUE(root.linkStatus("/flash/tmpAbc123", info).isOk());
  ASSERT_TRUE(root.addFile("/ram/MANIFEST", "M /flash/later /ram/tmpKeep01\n") &&
              root.addFile(paths::commitJournal, renameJournal("/flash/tool", "/flash/tmpAbc123", info.inode)) &&
              root.addFile(paths::temporaryRegistry, "/flash/tmpXyz789\n/flash/etc/../tmpQwe456\n/flash/gone00\n") &&
              root.addFile(paths::volatileTemporaryRegistry, "/ram/tmpKeep01\n"));
  std::string out = runShow(root, ExitSuccess);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "finished the commit of an interrupted run\n");
  EXPECT_EQ(root.tree("/flash"),
            "/flash/etc/ 755\n/flash/etc/tmpconfig 644 \"mine\"\n"
            "/flash/postlog 644 \"finished the commit of an interrupted run\\n\"\n"
            "/flash/tool 644 \"new\"\n/flash/var/ 755\n/flash/var/pdb/ 755\n");
  EXPECT_EQ(contentsOf(root, paths::volatileTemporaryRegistry), "/ram/tmpKeep01\n");
  ASSERT_TRUE(root.addFile("/ram/MANIFEST", ""));
  runShow(root, ExitSuccess);
  EXPECT_FALSE(root.has("/ram/tmpKeep01"));
  EXPECT_FALSE(root.has(paths::volatileTemporaryRegistry));
}

// The journal and the registries are the installer's own plain files: a
// link, a FIFO (which the device fails a read of, as it would block), or
// one past its bound is not read. Such a journal is refused with a clear message, removed, and
// nothing moves, and the run goes on; such a registry names no file, so
// nothing is swept.
TEST(RunStart, OddJournalOrRegistryIsNotRead) {
  const std::string journal = renameJournal("/flash/tool", "/flash/tmpAbc123", 1);
  for (const std::string odd : {"link", "fifo", "long"}) {
    for (const char* path : {paths::commitJournal, paths::temporaryRegistry}) {
      SCOPED_TRACE(odd + " " + path);
      auto device = routerDevice(4096, 1 << 20);
      SimulatedDevice& root = *device;
      ASSERT_TRUE(root.addFile("/flash/tmpAbc123", "new"));
      std::string contents = path == paths::temporaryRegistry ? "/flash/tmpAbc123\n" : journal;
      ASSERT_TRUE(odd != "link" || (root.addFile("/flash/plain", contents) && root.addSymlink(path, "/flash/plain")));
      ASSERT_TRUE(odd != "fifo" || root.addSpecial(path));
      ASSERT_TRUE(odd != "long" || root.addFile(path, contents + std::string(8 << 20, '\n')));
      std::string out = runShow(root, ExitSuccess);
      if (path == paths::commitJournal) {
        EXPECT_EQ(out.substr(0, out.find('\n') + 1),
                  "ERROR: refusing /flash/var/pdb/.installer-journal, nothing of it is done: it is no regular file "
                  "of at most 8 MiB\n");
        EXPECT_FALSE(root.has(path));
      }
      EXPECT_EQ(contentsOf(root, "/flash/tmpAbc123"), "new");
      EXPECT_FALSE(root.has("/flash/tool"));
    }
  }
}

}  // namespace
}  // namespace installer
