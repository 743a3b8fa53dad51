// Carrying out staged work: pass order, removals, links, renames, the copy
// across file systems and its spinner.
#include "staging/staged_commit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/chroot_runner.h"
#include "support/scratch_mount.h"
#include "support/temp_root.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

unsigned permissions(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return 0xFFFF;
  return info.st_mode & 07777;
}

bool isLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::string linkText(const std::string& path) {
  char buffer[256];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

std::string pattern(size_t size, char seed) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 61);
  return text;
}

// Commits with output captured; returns the result.
struct CommitOutcome {
  bool ok = false;
  std::string out;
  std::string err;
};

CommitOutcome commitCaptured(StagedFiles& staged, bool showSpinner) {
  CommitOutcome outcome;
  CaptureStdout();
  CaptureStderr();
  outcome.ok = commitStaged(staged, showSpinner);
  outcome.out = GetCapturedStdout();
  outcome.err = GetCapturedStderr();
  return outcome;
}

// Fresh spinner state for the test, and none left behind for the next.
class SpinnerReset {
 public:
  SpinnerReset() { spinnerState() = SpinnerState(); }
  ~SpinnerReset() { spinnerState() = SpinnerState(); }
};

// --- Pass order ------------------------------------------------------------------

TEST(CommitStaged, LinksAreMadeBeforeRenames) {
  TempRoot root;
  root.makeDirs("/flash");
  StagedFiles staged;
  // "/flash/a" sorts first, but its source is the link that pass 1 makes.
  stageSymlink(staged, "payload", root.at("/flash/z"));
  stageMove(staged, root.at("/flash/z"), root.at("/flash/a"));
  CommitOutcome outcome = commitCaptured(staged, false);
  EXPECT_TRUE(outcome.ok) << outcome.err;
  EXPECT_EQ(linkText(root.at("/flash/a")), "payload");
  EXPECT_FALSE(root.exists("/flash/z"));
}

TEST(CommitStaged, RemovalsComeBeforeRenames) {
  TempRoot root;
  root.writeFile("/flash/z", "source");
  StagedFiles staged;
  stageDelete(staged, root.at("/flash/z"));
  stageMove(staged, root.at("/flash/z"), root.at("/flash/a"));
  CommitOutcome outcome = commitCaptured(staged, false);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.err, "rename: No such file or directory\n");
  EXPECT_FALSE(root.exists("/flash/a"));
  EXPECT_EQ(staged.find(root.at("/flash/a"))->kind, StagedKind::Move);
}

// --- Removals, links and renames ---------------------------------------------------

// A deleted directory loses its plain files; it goes itself only when
// nothing else (subdirectory, dot file) is left. What is gone already is no
// failure and says nothing; the spinner stays quiet without a copy.
TEST(CommitStaged, DeletedDirectoriesAndMissingPaths) {
  TempRoot root;
  root.writeFile("/flash/dir/file", "f");
  root.writeFile("/flash/dir/.hidden", "h");
  root.writeFile("/flash/dir/sub/inner", "i");
  root.writeFile("/flash/var/pdb/pkg/image", "i");
  root.writeFile("/flash/var/pdb/pkg/version", "1 2");
  StagedFiles staged;
  stageDelete(staged, root.at("/flash/dir"));
  stageDelete(staged, root.at("/flash/var/pdb/pkg/"));
  stageRecord(staged, root.at("/flash/gone"), StagedKind::Delete, "");
  CommitOutcome outcome = commitCaptured(staged, true);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_FALSE(root.exists("/flash/dir/file"));
  EXPECT_TRUE(root.exists("/flash/dir/.hidden"));
  EXPECT_TRUE(root.exists("/flash/dir/sub/inner"));
  EXPECT_FALSE(root.exists("/flash/var/pdb/pkg"));
  EXPECT_TRUE(root.exists("/flash/var/pdb"));
}

// Links and renames make missing parent directories; a link replaces a
// file; a renamed temporary file keeps its mode. No copy, no spinner.
TEST(CommitStaged, LinksAndRenamesMakeMissingParentsAndReplaceFiles) {
  TempRoot root;
  root.writeFile("/flash/lib/libx.so", "old");
  root.writeFile("/flash/tmpAAAAAA", "contents", 0755);
  StagedFiles staged;
  stageSymlink(staged, "/flash/bootimage", root.at("/flash/var/pdb/pkg/image"));
  stageSymlink(staged, "libx.so.2", root.at("/flash/lib/libx.so"));
  stageRecord(staged, root.at("/flash/usr/bin/tool"), StagedKind::Write, root.at("/flash/tmpAAAAAA"));
  CommitOutcome outcome = commitCaptured(staged, true);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(linkText(root.at("/flash/var/pdb/pkg/image")), "/flash/bootimage");
  EXPECT_EQ(linkText(root.at("/flash/lib/libx.so")), "libx.so.2");
  EXPECT_EQ(root.readFile("/flash/usr/bin/tool"), "contents");
  EXPECT_EQ(permissions(root.at("/flash/usr/bin/tool")), 0755u);
  EXPECT_FALSE(root.exists("/flash/tmpAAAAAA"));
}

// A failed link or rename is reported, leaves its entry, and the commit
// goes on with the rest.
TEST(CommitStaged, FailedLinkAndRenameAreReportedAndTheCommitGoesOn) {
  TempRoot root;
  root.writeFile("/flash/file", "a file, not a directory");
  root.writeFile("/flash/old", "old");
  root.writeFile("/ram/new", "new");
  StagedFiles staged;
  stageSymlink(staged, "t", root.at("/flash/file/link"));
  stageMove(staged, root.at("/ram/new"), root.at("/flash/new"));
  stageMove(staged, root.at("/ram/missing"), root.at("/flash/old"));
  CommitOutcome outcome = commitCaptured(staged, false);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.err, "symlink: Not a directory\nrename: No such file or directory\n");
  EXPECT_EQ(root.readFile("/flash/new"), "new");
  EXPECT_EQ(root.readFile("/flash/old"), "old");
  EXPECT_EQ(staged.find(root.at("/flash/old"))->kind, StagedKind::Move);
}

// --- Across file systems -----------------------------------------------------------------

class CrossDevice : public testing::Test {
 protected:
  TempRoot root;
  std::unique_ptr<ScratchMount> ram;
  SpinnerReset spinner;

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
    root.makeDirs("/flash");
    ram = std::make_unique<ScratchMount>(root.at("/ram"), 4u << 20);
    SKIP_UNLESS_MOUNTED(*ram);
    ::umask(022);
  }
};

// A write into an existing destination is a copy that keeps the
// destination's mode; a link there is replaced, not followed.
TEST_F(CrossDevice, WriteIsCopiedIntoExistingDestinationKeepingItsMode) {
  root.writeFile("/flash/bin/tool", pattern(3000, 'a'), 0640);
  std::string contents = pattern(40000, 'k');  // three chunks
  root.writeFile("/ram/tmpBBBBBB", contents, 0755);
  std::string victim = pattern(2000, 'v');
  root.writeFile("/flash/victim", victim);
  ASSERT_EQ(symlink(root.at("/flash/victim").c_str(), root.at("/flash/x").c_str()), 0);
  root.writeFile("/ram/tmpDDDDDD", "new contents", 0644);
  StagedFiles staged;
  stageRecord(staged, root.at("/flash/bin/tool"), StagedKind::Write, root.at("/ram/tmpBBBBBB"));
  stageRecord(staged, root.at("/flash/x"), StagedKind::Write, root.at("/ram/tmpDDDDDD"));
  CommitOutcome outcome = commitCaptured(staged, false);
  EXPECT_TRUE(outcome.ok) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(root.readFile("/flash/bin/tool"), contents);
  EXPECT_EQ(permissions(root.at("/flash/bin/tool")), 0640u);
  EXPECT_EQ(staged.find(root.at("/flash/bin/tool"))->kind, StagedKind::Copy);
  EXPECT_FALSE(root.exists("/ram/tmpBBBBBB")) << "the copied temporary file is the set's to delete";
  EXPECT_EQ(root.readFile("/flash/victim"), victim);
  EXPECT_FALSE(isLink(root.at("/flash/x")));
  EXPECT_EQ(root.readFile("/flash/x"), "new contents");
  EXPECT_EQ(permissions(root.at("/flash/x")), 0644u);
}

// A new destination takes the source's mode exactly; a moved source stays.
TEST_F(CrossDevice, NewDestinationTakesSourceModeAndMoveSourceStays) {
  root.writeFile("/ram/tmpCCCCCC", "x", 0775);
  root.writeFile("/ram/image", "image");
  StagedFiles staged;
  stageRecord(staged, root.at("/flash/new/file"), StagedKind::Write, root.at("/ram/tmpCCCCCC"));
  stageMove(staged, root.at("/ram/image"), root.at("/flash/var/pdb/pkg/image"));
  EXPECT_TRUE(commitCaptured(staged, false).ok);
  EXPECT_EQ(root.readFile("/flash/new/file"), "x");
  EXPECT_EQ(permissions(root.at("/flash/new/file")), 0775u);
  EXPECT_EQ(root.readFile("/flash/var/pdb/pkg/image"), "image");
  EXPECT_EQ(root.readFile("/ram/image"), "image");
}

TEST_F(CrossDevice, FailedCopyLeavesDestinationCutTo512Bytes) {
  std::string old = pattern(5000, 'o');
  root.writeFile("/flash/file", old);
  root.makeDirs("/ram/not-a-file");
  StagedFiles staged;
  stageMove(staged, root.at("/ram/not-a-file"), root.at("/flash/file"));
  CommitOutcome outcome = commitCaptured(staged, false);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(root.readFile("/flash/file"), old.substr(0, 512));
  EXPECT_TRUE(root.exists("/ram/not-a-file"));
}

TEST_F(CrossDevice, CopyShowsSpinnerOnlyWhenAsked) {
  root.writeFile("/ram/a", pattern(100, 'a'));
  root.writeFile("/ram/b", pattern(100, 'b'));
  StagedFiles quiet;
  stageMove(quiet, root.at("/ram/a"), root.at("/flash/a"));
  EXPECT_EQ(commitCaptured(quiet, false).out, "");
  StagedFiles shown;
  stageMove(shown, root.at("/ram/b"), root.at("/flash/b"));
  CommitOutcome outcome = commitCaptured(shown, true);
  EXPECT_TRUE(outcome.ok);
  // The first step of the process draws its character without a backspace.
  EXPECT_EQ(outcome.out, "|");
  EXPECT_EQ(spinnerState().index, 1u);
}

TEST_F(CrossDevice, CopyToFullDiskReportsWriteFailure) {
  ScratchMount flash(root.at("/flash/full"), 32768);
  SKIP_UNLESS_MOUNTED(flash);
  root.writeFile("/ram/big", pattern(100000, 'b'));
  StagedFiles staged;
  stageMove(staged, root.at("/ram/big"), root.at("/flash/full/big"));
  CommitOutcome outcome = commitCaptured(staged, false);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.err, " write failed: No space left on device\n");
  EXPECT_TRUE(root.exists("/ram/big"));
}

// --- copyFile and the spinner ------------------------------------------------------

TEST(CopyFile, CopiesRegularFilesExactlyAndRefusesTheRest) {
  TempRoot root;
  root.makeDirs("/dir");
  root.writeFile("/dest", "kept");
  EXPECT_FALSE(copyFile(root.at("/missing"), root.at("/dest"), false));
  EXPECT_FALSE(copyFile(root.at("/dir"), root.at("/dest"), false));
  EXPECT_EQ(root.readFile("/dest"), "kept");
  root.writeFile("/empty", "");
  EXPECT_FALSE(copyFile(root.at("/empty"), root.at("/no/such/dir/dest"), false));
  EXPECT_TRUE(copyFile(root.at("/empty"), root.at("/dest"), false));
  EXPECT_EQ(root.readFile("/dest"), "");
  std::string big = pattern(16384 * 3 + 1, 'q');
  root.writeFile("/big", big);
  EXPECT_TRUE(copyFile(root.at("/big"), root.at("/dest"), false));
  EXPECT_EQ(root.readFile("/dest"), big);
}

TEST(Spinner, StepsAtMostEveryTwentyTicksAndCatchesUpByTwenty) {
  SpinnerReset reset;
  CaptureStdout();
  spinnerStep();  // first: "|"
  spinnerStep();  // within 20 ticks: nothing
  uint32_t first = spinnerState().lastTick;
  spinnerState().lastTick = tickCount() - 100;  // as if a slow copy ran on
  uint32_t behind = spinnerState().lastTick;
  spinnerStep();
  spinnerStep();
  spinnerStep();
  spinnerStep();
  std::string out = GetCapturedStdout();
  EXPECT_NE(first, 0u);
  EXPECT_EQ(out, "|\b/\b-\b\\\b|");
  EXPECT_EQ(spinnerState().lastTick, behind + 80);
  EXPECT_EQ(spinnerState().index, 1u);
}

TEST(Spinner, TickCountDoesNotGoBackwards) {
  uint32_t before = tickCount();
  usleep(30000);
  uint32_t after = tickCount();
  EXPECT_GE(after - before, 1u);
  EXPECT_LT(after - before, 1000u);
}

}  // namespace
