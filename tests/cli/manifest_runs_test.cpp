// End-to-end runs of --commit and --cancel on hand-written manifests. Both
// act on the root the installer starts in, so the installer is started
// inside the test root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/chrooted_installer.h"
#include "support/scratch_mount.h"
#include "support/temp_root.h"

namespace {

const std::string finishing = "finishing install... ";
const std::string wipe = "\b \n";

std::string linkText(const std::string& path) {
  char buffer[256];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

// A root with a deferred installation: an old file to remove, a link to make
// and two files to move in (one into a directory that does not exist yet).
void layOutDeferredWork(const TempRoot& root) {
  root.writeFile("/flash/old", "old");
  root.writeFile("/flash/tmpAAAAAA", "new tool", 0755);
  root.writeFile("/flash/var/pdb/image", "image");
  root.writeFile("/ram/MANIFEST",
                 "M /flash/bin/tool /flash/tmpAAAAAA\n"
                 "L /flash/lib/link libx.so.1\n"
                 "U /flash/old\n"
                 "M /flash/var/pdb/pkg/image /flash/var/pdb/image\n");
}

class ManifestRuns : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason = chrootedRunSkipReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
  }
  TempRoot root;
};

TEST_F(ManifestRuns, CommitWithoutManifestOnlyPrintsItsLine) {
  root.makeDirs("/ram");
  std::string before = describeTree(root.path());
  ProcessResult result = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, finishing + wipe);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(ManifestRuns, CommitCarriesOutManifestAndKeepsIt) {
  layOutDeferredWork(root);
  ProcessResult result = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, finishing + wipe);  // same file system: no spinner
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(root.exists("/flash/old"));
  EXPECT_EQ(root.readFile("/flash/bin/tool"), "new tool");
  EXPECT_FALSE(root.exists("/flash/tmpAAAAAA"));
  EXPECT_EQ(linkText(root.at("/flash/lib/link")), "libx.so.1");
  EXPECT_EQ(root.readFile("/flash/var/pdb/pkg/image"), "image");
  EXPECT_TRUE(root.exists("/ram/MANIFEST"));
}

TEST_F(ManifestRuns, CommitAgainOfCarriedOutManifestFails) {
  layOutDeferredWork(root);
  ASSERT_EQ(runInstallerInRoot(root.path(), {"--commit"}).exitStatus, 0);
  std::string after = describeTree(root.path());
  ProcessResult again = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_EQ(again.out, finishing + wipe);
  EXPECT_EQ(again.err, "rename: No such file or directory\nrename: No such file or directory\n");
  EXPECT_EQ(describeTree(root.path()), after);
}

TEST_F(ManifestRuns, UnreadableManifestCommitsNothing) {
  root.writeFile("/flash/old", "old");
  root.writeFile("/ram/MANIFEST", "U /flash/old\nL /flash/link\n");
  std::string before = describeTree(root.path());
  ProcessResult result = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "ERROR: cannot read /ram/MANIFEST, nothing committed\n");
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(ManifestRuns, ManifestThatIsADirectoryIsRefused) {
  root.makeDirs("/ram/MANIFEST");
  ProcessResult result = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "ERROR: cannot read /ram/MANIFEST, nothing committed\n");
}

TEST_F(ManifestRuns, EmptyManifestCommitsNothingAndSucceeds) {
  root.writeFile("/ram/MANIFEST", "");
  std::string before = describeTree(root.path());
  ProcessResult result = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, finishing + wipe);
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(ManifestRuns, CommitAcrossFileSystemsDrawsSpinner) {
  ScratchMount ram(root.at("/ram"), 1u << 20);
  SKIP_UNLESS_MOUNTED(ram);
  root.writeFile("/flash/bin/tool", std::string(4000, 'o'), 0700);
  root.writeFile("/ram/tmpBBBBBB", "copied", 0755);
  root.writeFile("/ram/MANIFEST", "M /flash/bin/tool /ram/tmpBBBBBB\n");
  ProcessResult result = runInstallerInRoot(root.path(), {"--commit"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, finishing + "|" + wipe);
  EXPECT_EQ(root.readFile("/flash/bin/tool"), "copied");
  struct stat info;
  ASSERT_EQ(stat(root.at("/flash/bin/tool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  // A manifest names its sources as moves: the source stays.
  EXPECT_EQ(root.readFile("/ram/tmpBBBBBB"), "copied");
}

TEST_F(ManifestRuns, CancelDeletesManifestOnly) {
  layOutDeferredWork(root);
  ProcessResult result = runInstallerInRoot(root.path(), {"--cancel"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_EQ(root.readFile("/flash/tmpAAAAAA"), "new tool");
  EXPECT_EQ(root.readFile("/flash/var/pdb/image"), "image");
  EXPECT_EQ(root.readFile("/flash/old"), "old");
  EXPECT_FALSE(root.exists("/flash/bin/tool"));
}

TEST_F(ManifestRuns, CancelWithoutManifestDoesNothing) {
  root.makeDirs("/ram");
  std::string before = describeTree(root.path());
  ProcessResult result = runInstallerInRoot(root.path(), {"--cancel"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST_F(ManifestRuns, CancelOfMalformedManifestStillDeletesIt) {
  root.writeFile("/ram/source", "s");
  root.writeFile("/ram/MANIFEST", "M /flash/x /ram/source\nL /broken\n");
  ProcessResult result = runInstallerInRoot(root.path(), {"--cancel"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_EQ(root.readFile("/ram/source"), "s");
}

}  // namespace
