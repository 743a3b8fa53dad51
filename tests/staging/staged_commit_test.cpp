// Carrying out a staged set: the copies across file systems, the passes, and
// finishing a commit that was interrupted. (The check before any change is
// pinned by the scenario standard_input_blocked_destination.)
#include "staging/staged_commit.h"

#include <gtest/gtest.h>

#include "platform/fault_env.h"
#include "support/staging_env.h"
#include "support/test_root.h"

namespace installer {
namespace {

// "/ram" is a file system of its own, so a move from there to "/f"
// crosses file systems.
class Commit : public testing::Test {
 protected:
  TestRoot root;
  DiskEnv disks{root.env(), {{"/ram", 1, 4096, 100}}};
  FaultEnv env{disks};
  InstallerState state{env};

  // Plants `files`, commits `entries` and gives "RESULT|STDOUT|STDERR".
  std::string commit(const char* files, const char* entries, CommitOptions options = CommitOptions()) {
    plant(root, files);
    StagedFiles staged(env);
    stageText(staged, entries);
    testing::internal::CaptureStdout(), testing::internal::CaptureStderr();
    std::string result = commitStaged(state, staged, options) ? "ok|" : "failed|";
    result += testing::internal::GetCapturedStdout() + "|";
    return result + testing::internal::GetCapturedStderr();
  }
  // The device's "/f" and "/ram", and whatever the commit left in "/flash".
  std::string tree() { return root.tree("/f") + root.tree("/ram") + root.tree("/flash"); }
};

// Removals and links come before renames: "/f/b" is renamed over the link
// the first pass made, "/f/y" where it removed a file. A removed directory
// loses its plain files and goes only when nothing else is left; a file
// takes the place of a directory the set empties, a directory that of a
// file the set removes; missing parents are made. Nothing of the commit's
// own is left behind.
TEST_F(Commit, RemovalsAndLinksComeBeforeRenames) {
  EXPECT_EQ(commit("/f/y=y /f/t0=0 /f/s=a /f/d/f= /f/d/.h= /f/d/s/f= /f/lib/a= /f/bin= /f/t1=1 /f/t2=2@755 /f/t3=3",
                   "L /f/b payload|U /f/y|M /f/a /f/s|W /f/y /f/t0|U /f/d|U /f/lib/a|W /f/lib /f/t1|U /f/bin|"
                   "W /f/bin/x /f/t2|L /f/i/image /bootimage|W /f/u/c /f/t3"),
            "ok||");
  EXPECT_EQ(tree(), "/f/a 644 \"a\"\n/f/b -> payload\n/f/bin/\n/f/bin/x 755 \"2\"\n/f/d/\n/f/d/.h 644 \"\"\n/f/d/s/\n/f/d/s/f 644 \"\"\n"
                    "/f/i/\n/f/i/image -> /bootimage\n/f/lib 644 \"1\"\n/f/u/\n/f/u/c 644 \"3\"\n/f/y 644 \"0\"\n"
                    "/flash/var/\n/flash/var/pdb/\n");
}

// Moves across file systems are copies made beside the destination first:
// an existing destination keeps its mode, a new one takes the source's, a
// link standing there is replaced rather than followed. The set's own
// temporary files go once copied, a package file stays. One spinner runs
// on across all copies, redrawn at most every 20 ticks.
TEST_F(Commit, MovesAcrossFileSystemsAreCopiedFirst) {
  CommitOptions spinning;
  spinning.showSpinner = true;
  EXPECT_EQ(commit("/f/tool=old@640 /ram/t1:40000@755 /ram/t2=2@775 /ram/t3=3@600 /ram/image=i /f/v=v /f/x>/f/v",
                   "W /f/tool /ram/t1|W /f/new/file /ram/t2|W /f/x /ram/t3|M /f/image /ram/image", spinning),
            "ok||\b/\b-\b\\\b||");
  EXPECT_EQ(tree(), "/f/image 644 \"i\"\n/f/new/\n/f/new/file 775 \"2\"\n/f/tool 640 <40000 bytes>\n"
                    "/f/v 644 \"v\"\n/f/x 600 \"3\"\n/ram/image 644 \"i\"\n"
                    "/flash/var/\n/flash/var/pdb/\n");
  // A copy that does not fit changes nothing. (The next write records the
  // copy's directory among the temporary ones; the one after is the copy.)
  env.failAt(EnvCall::Write, env.calls(EnvCall::Write) + 2, ENOSPC);
  EXPECT_EQ(commit("/f/old=o /ram/t4=4", "U /f/old|W /f/more /ram/t4"),
            "failed|ERROR: cannot install /f/more: No space left on device\n| write failed: No space left on device\n");
  EXPECT_EQ(root.read("/f/old"), "o");
  EXPECT_FALSE(root.exists("/ram/t4"));
}

// A set committed again (a manifest): what an earlier commit moved is done.
// A step that fails after the journal was written leaves the journal, and
// the next run finishes the commit and says so.
TEST_F(Commit, InterruptedCommitIsFinishedLater) {
  CommitOptions resume;
  resume.resume = true;
  EXPECT_EQ(commit("/f/done=new /f/t=t", "M /f/done /f/gone|M /f/next /f/t", resume), "ok||");
  EXPECT_EQ(commit("", "M /f/lost /f/gone", resume), "failed|ERROR: cannot install /f/lost: /f/gone is missing\n|");
  env.failAt(EnvCall::Rename, env.calls(EnvCall::Rename) + 2, EIO);  // the journal's rename, then the moves
  EXPECT_EQ(commit("/f/t1=1 /f/t2=2", "W /f/one /f/t1|W /f/two /f/t2"), "failed||rename: Input/output error\n");
  EXPECT_TRUE(root.exists("/flash/.installer-journal"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(finishInterruptedCommit(state), InterruptedCommit::Finished);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "finished the commit of an interrupted run\n");
  EXPECT_EQ(root.tree("/f"), "/f/done 644 \"new\"\n/f/next 644 \"t\"\n/f/one 644 \"1\"\n/f/two 644 \"2\"\n");
  EXPECT_EQ(finishInterruptedCommit(state), InterruptedCommit::None);
  root.write("/flash/.installer-journal", "L /f/only-a-path\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(finishInterruptedCommit(state), InterruptedCommit::Failed);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR: cannot read /flash/.installer-journal: the interrupted commit cannot be finished\n");
}

}  // namespace
}  // namespace installer
