// Carrying out a staged set: the order of its steps, the copies across
// file systems, and finishing a commit that was interrupted. (The crash
// and power-cut sweeps are in tests/cli/transaction_test.cpp.)
#include "staging/staged_commit.h"

#include <gtest/gtest.h>

#include "platform/device_paths.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/staging_env.h"

namespace installer {
namespace {

// "/ram" is a file system of its own, so a move from there to "/flash"
// crosses file systems.
class Commit : public testing::Test {
 protected:
  std::unique_ptr<SimulatedDevice> device = routerDevice(4096, 1 << 20);
  SimulatedDevice& env = *device;
  RecordedOutput output;
  InstallerState state{env, output};

  // Plants `files`, commits `entries` and gives "RESULT|STDOUT|STDERR".
  std::string commit(const char* files, const char* entries, CommitOptions options = CommitOptions()) {
    EXPECT_TRUE(plant(env, files)) << files;
    StagedFiles staged(env);
    stageText(staged, entries);
    const char* results[] = {"done|", "refused|", "no room|", "failed|"};
    std::string result = results[static_cast<int>(commitStaged(state, staged, options))];
    result += output.take() + "|";
    return result + output.takeErrors();
  }
  std::string finish(InterruptedCommit expected) {
    EXPECT_EQ(finishInterruptedCommit(state, nullptr), expected);
    return output.take();
  }
  std::string tree() { return env.tree("/flash/f") + env.tree("/ram"); }
  std::string read(const std::string& path) {
    std::string contents;
    EXPECT_TRUE(env.read(path, contents)) << path;
    return contents;
  }
};

// Removals and links come before renames: "/flash/f/b" is renamed over the
// link the first pass made, "/flash/f/y" where it removed a file. A removed
// directory loses its plain files and goes only when nothing else is left; a
// file takes the place of a directory the set empties, a directory that of a
// file the set removes; missing parents are made. Nothing of the commit's
// own is left behind.
TEST_F(Commit, RemovalsAndLinksComeBeforeRenames) {
  EXPECT_EQ(commit("/flash/f/y=y /flash/f/t0=0 /flash/f/s=a /flash/f/d/f= /flash/f/d/.h= /flash/f/d/s/f= "
                   "/flash/f/lib/a= /flash/f/bin= /flash/f/t1=1 /flash/f/t2=2@755 /flash/f/t3=3",
                   "L /flash/f/b payload|U /flash/f/y|M /flash/f/a /flash/f/s|W /flash/f/y /flash/f/t0|U /flash/f/d|"
                   "U /flash/f/lib/a|W /flash/f/lib /flash/f/t1|U /flash/f/bin|W /flash/f/bin/x /flash/f/t2|"
                   "L /flash/f/i/image /bootimage|W /flash/f/u/c /flash/f/t3"),
            "done||");
  EXPECT_EQ(tree(),
            "/flash/f/a 644 \"a\"\n/flash/f/b -> payload\n/flash/f/bin/ 755\n/flash/f/bin/x 755 \"2\"\n"
            "/flash/f/d/ 755\n/flash/f/d/.h 644 \"\"\n/flash/f/d/s/ 755\n/flash/f/d/s/f 644 \"\"\n/flash/f/i/ 755\n"
            "/flash/f/i/image -> /bootimage\n/flash/f/lib 644 \"1\"\n/flash/f/u/ 755\n/flash/f/u/c 644 \"3\"\n"
            "/flash/f/y 644 \"0\"\n");
  EXPECT_EQ(env.tree("/flash/var"), "/flash/var/pdb/ 755\n");
}

// A step the plan's own earlier steps make impossible is refused before
// anything changes: a file at "a" and one at "a/b", a move from what the set
// removes, a destination outside the flash or among the installer's own
// files. A move of a link the set makes first is fine.
TEST_F(Commit, StepsAreCheckedInOrderBeforeAnyChange) {
  EXPECT_EQ(commit("/flash/t1=1 /flash/t2=2", "W /flash/a /flash/t1|W /flash/a/b /flash/t2"),
            "refused|ERROR: cannot install /flash/a/b: /flash/a is not a directory\n|");
  EXPECT_EQ(commit("/flash/b=b", "M /flash/a /flash/b|U /flash/b"),
            "refused|ERROR: cannot install /flash/a: /flash/b is removed first\n|");
  EXPECT_EQ(commit("/flash/t=t", "M /etc/passwd /flash/t"),
            "refused|ERROR: cannot install /etc/passwd: outside /flash/\n|");
  EXPECT_EQ(commit("", "M /flash/t /ram/missing"),
            "refused|ERROR: cannot install /flash/t: /ram/missing is missing\n|");
  EXPECT_EQ(
      commit("/flash/t=t", "M /flash/var/pdb/.installer-journal /flash/t"),
      "refused|ERROR: cannot install /flash/var/pdb/.installer-journal: a name the installer keeps for itself\n|");
  // Nothing changed; the set's own temporary files are gone.
  EXPECT_EQ(env.tree("/flash"), "/flash/b 644 \"b\"\n/flash/t 644 \"t\"\n/flash/var/ 755\n/flash/var/pdb/ 755\n");
  // A link the first pass puts in an empty directory keeps it from giving
  // way to a file.
  ASSERT_TRUE(env.addDirectories("/flash/e"));
  EXPECT_EQ(commit("/flash/t=t", "L /flash/e/x target|M /flash/e /flash/t"),
            "refused|ERROR: cannot install /flash/e: /flash/e is in the way\n|");
  ASSERT_TRUE(env.removeDirectory("/flash/e").isOk());
  EXPECT_EQ(commit("", "L /flash/l target|M /flash/m /flash/l"), "done||");
  EXPECT_EQ(env.tree("/flash"),
            "/flash/b 644 \"b\"\n/flash/m -> target\n/flash/t 644 \"t\"\n/flash/var/ 755\n"
            "/flash/var/pdb/ 755\n");
}

// A file in "/ram" that no package file can make again is copied beside its
// destination before anything changes: an existing destination keeps its
// mode, a new one takes the source's, a link standing there is replaced
// rather than followed. The set's own temporary files go once copied, a
// package file stays. One spinner runs on across all copies.
TEST_F(Commit, FilesInRamAreCopiedBesideFirst) {
  CommitOptions spinning;
  spinning.showSpinner = true;
  EXPECT_EQ(
      commit("/flash/f/tool=old@640 /ram/t1:40000@755 /ram/t2=2@775 /ram/t3=3@600 /ram/image=i /flash/f/v=v "
             "/flash/f/x>/flash/f/v",
             "W /flash/f/tool /ram/t1|W /flash/f/new/file /ram/t2|W /flash/f/x /ram/t3|M /flash/f/image /ram/image",
             spinning),
      "done||\b/\b-\b\\\b||");
  EXPECT_EQ(tree(),
            "/flash/f/image 644 \"i\"\n/flash/f/new/ 755\n/flash/f/new/file 775 \"2\"\n/flash/f/tool 640 <40000 bytes "
            "sha256:6285332e3072b27e>\n"
            "/flash/f/v 644 \"v\"\n/flash/f/x 600 \"3\"\n/ram/image 644 \"i\"\n");
  // A copy that does not fit changes nothing. (The first write records the
  // copy's name among the temporary files, the next is the copy.)
  env.failAt(EnvCall::Write, env.calls(EnvCall::Write) + 2, ENOSPC);
  EXPECT_EQ(commit("/flash/f/old=o /ram/t4=4", "U /flash/f/old|W /flash/f/more /ram/t4"),
            "refused|ERROR: cannot install /flash/f/more: No space left on device\n| write failed: No space left on "
            "device\n");
  EXPECT_EQ(read("/flash/f/old"), "o");
  EXPECT_FALSE(env.has("/ram/t4"));
}

// A step that fails after the journal was written leaves the journal; the
// next run finishes the commit and says so. A step whose source is gone for
// good is given up, reported, and the journal goes all the same, so that no
// run is stuck on it; a journal that is not one to act on is refused.
TEST_F(Commit, InterruptedCommitIsFinishedOrGivenUp) {
  env.failAt(EnvCall::Rename, env.calls(EnvCall::Rename) + 3, EIO);  // the journal's rename, then the moves
  EXPECT_EQ(commit("/flash/t1=1 /flash/t2=2", "W /flash/one /flash/t1|W /flash/two /flash/t2"),
            "failed|ERROR: cannot install /flash/two: Input/output error\n|rename: Input/output error\n");
  EXPECT_TRUE(env.has(paths::commitJournal));
  EXPECT_EQ(finish(InterruptedCommit::Finished), "finished the commit of an interrupted run\n");
  EXPECT_EQ(read("/flash/one") + read("/flash/two"), "12");
  EXPECT_EQ(finish(InterruptedCommit::None), "");

  env.failAt(EnvCall::Rename, env.calls(EnvCall::Rename) + 2, EIO);
  EXPECT_EQ(commit("/flash/t3=3 /flash/t4=4", "W /flash/three /flash/t3|W /flash/four /flash/t4").substr(0, 7),
            "failed|");
  ASSERT_TRUE(env.removeFile("/flash/t4").isOk());
  EXPECT_EQ(finish(InterruptedCommit::GaveUp),
            "ERROR: the interrupted commit could not install /flash/four: /flash/t4 is gone\n");
  EXPECT_EQ(read("/flash/three"), "3");
  EXPECT_FALSE(env.has(paths::commitJournal));

  ASSERT_TRUE(env.addFile(paths::commitJournal, "installer-journal 1\nrename 5 /etc/passwd /flash/planted\n"));
  EXPECT_EQ(finish(InterruptedCommit::Refused),
            "ERROR: refusing /flash/var/pdb/.installer-journal, nothing of it is "
            "done: it is cut short or damaged\n");
  EXPECT_FALSE(env.has(paths::commitJournal));
}

}  // namespace
}  // namespace installer
