// The staged file set: entries, temporary files and the two path helpers.
#include "staging/staged_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "model/package_info.h"
#include "support/chroot_runner.h"
#include "support/scratch_mount.h"
#include "support/temp_root.h"

namespace {

bool pathExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

unsigned permissions(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 0xFFFF;
  return info.st_mode & 07777;
}

std::vector<std::string> keys(const StagedFiles& staged) {
  std::vector<std::string> out;
  for (const auto& entry : staged.entries) out.push_back(entry.first);
  return out;
}

// Makes a Write entry for `path` whose temporary file lies beside it, and
// returns the temporary file's name.
std::string stageWrite(StagedFiles& staged, const std::string& path, const std::string& contents) {
  std::ofstream stream = createStagedFile(staged, path, 1, 0);
  EXPECT_TRUE(stream.is_open());
  stream << contents;
  stream.close();
  const StagedOp* op = staged.find(path);
  EXPECT_NE(op, nullptr);
  return op != nullptr ? op->target : std::string();
}

// --- Entries ---------------------------------------------------------------

// A new entry for a path replaces the old one: a replaced write loses its
// temporary file, a replaced move keeps its source.
TEST(StagedFiles, ReplacedWriteLosesItsTemporaryFileAndMoveKeepsItsSource) {
  TempRoot root;
  root.makeDirs("/flash");
  root.writeFile("/ram/source", "data");
  StagedFiles staged;
  std::string path = root.at("/flash/file");
  std::string first = stageWrite(staged, path, "one");
  ASSERT_TRUE(pathExists(first));
  std::string second = stageWrite(staged, path, "two");
  EXPECT_NE(first, second);
  EXPECT_FALSE(pathExists(first));
  ASSERT_TRUE(pathExists(second));
  EXPECT_EQ(staged.find(path)->kind, StagedKind::Write);
  EXPECT_EQ(staged.find(path)->target, second);
  stageMove(staged, root.at("/ram/source"), root.at("/flash/x"));
  stageSymlink(staged, "elsewhere", root.at("/flash/x"));
  EXPECT_TRUE(root.exists("/ram/source"));
  ASSERT_EQ(staged.size(), 2u);
  EXPECT_EQ(staged.find(root.at("/flash/x"))->kind, StagedKind::Symlink);
  EXPECT_EQ(staged.find(root.at("/flash/x"))->target, "elsewhere");
}

// A delete drops a pending write and its temporary file; it is staged only
// when something is there to delete (a dangling link is nothing).
TEST(StagedFiles, DeleteReplacesPendingWriteOnlyWhereSomethingExists) {
  TempRoot root;
  root.writeFile("/flash/old", "old");
  root.writeFile("/flash/real", "r");
  ASSERT_EQ(symlink("real", root.at("/flash/link").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere/at/all", root.at("/flash/dangling").c_str()), 0);
  StagedFiles staged;
  std::string newTemporary = stageWrite(staged, root.at("/flash/new"), "x");
  std::string oldTemporary = stageWrite(staged, root.at("/flash/old"), "new");
  for (const char* path : {"/flash/new", "/flash/old", "/flash/link", "/flash/dangling"}) {
    stageDelete(staged, root.at(path));
  }
  EXPECT_EQ(keys(staged), (std::vector<std::string>{root.at("/flash/link"), root.at("/flash/old")}));
  for (const auto& entry : staged.entries) {
    EXPECT_EQ(entry.second.kind, StagedKind::Delete) << entry.first;
    EXPECT_EQ(entry.second.target, "") << entry.first;
  }
  EXPECT_FALSE(pathExists(newTemporary));
  EXPECT_FALSE(pathExists(oldTemporary));
  EXPECT_EQ(root.readFile("/flash/old"), "old");
}

TEST(StagedFiles, DirectoryPathSortsBeforeItsFilesAndUnknownUnstageIsNothing) {
  StagedFiles staged;
  for (const char* path : {"/flash/var/pdb/pkg/image", "/flash/var/pdb/pkg/", "/flash/var/pdb/pkg",
                           "/flash/var/pdb/pkg-extra", "/flash/var/pdb/pk"}) {
    stageSymlink(staged, "t", path);
  }
  unstage(staged, "/flash/var/pdb/p");
  std::vector<std::string> expected = {"/flash/var/pdb/pk", "/flash/var/pdb/pkg", "/flash/var/pdb/pkg-extra",
                                       "/flash/var/pdb/pkg/", "/flash/var/pdb/pkg/image"};
  EXPECT_EQ(keys(staged), expected);
}

// --- Temporary files -------------------------------------------------------

TEST(StagedFiles, ModeIsAppliedAndZeroKeepsPrivateMode) {
  TempRoot root;
  root.makeDirs("/flash");
  StagedFiles staged;
  ::umask(022);
  { std::ofstream s = createStagedFile(staged, root.at("/flash/a"), 1, 0751); }
  { std::ofstream s = createStagedFile(staged, root.at("/flash/b"), 1, 0); }
  EXPECT_EQ(permissions(staged.find(root.at("/flash/a"))->target), 0751u);
  EXPECT_EQ(permissions(staged.find(root.at("/flash/b"))->target), 0600u);
}

TEST(StagedFiles, StreamWritesTheTemporaryFileInNearestExistingAncestor) {
  TempRoot root;
  root.makeDirs("/flash");
  StagedFiles staged;
  std::string temporary = stageWrite(staged, root.at("/flash/not/yet/a"), std::string("bin\0ary", 7));
  EXPECT_EQ(parentDirectory(temporary), root.at("/flash"));
  std::ifstream in(temporary, std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents, std::string("bin\0ary", 7));
  EXPECT_FALSE(root.exists("/flash/not"));
}

// Where the temporary file goes: beside the destination when it has room
// (a size hint of 0 says it may not), else "/ram", else "/tmp".
TEST(StagedFiles, TemporaryFilePlacementTable) {
  SKIP_UNLESS_ROOT();
  struct Case {
    bool withRam;
    const char* path;
    size_t hint;
    const char* prefix;
  } cases[] = {
      {false, "/flash/file", 0, "/tmp/tmp"},
      {true, "/flash/file", 0, "/ram/tmp"},
      {true, "/flash/PCKGS_CHANGED", 1, "/flash/tmp"},
  };
  for (const Case& c : cases) {
    TempRoot root;
    root.makeDirs("/flash");
    if (c.withRam) root.makeDirs("/ram");
    runInChroot(root.path(), [&c] {
      StagedFiles staged;
      std::ofstream stream = createStagedFile(staged, c.path, c.hint, 0);
      EXPECT_TRUE(stream.is_open());
      ASSERT_NE(staged.find(c.path), nullptr);
      const std::string& name = staged.find(c.path)->target;
      EXPECT_EQ(name.substr(0, strlen(c.prefix)), c.prefix);
      EXPECT_EQ(name.size(), strlen(c.prefix) + 6);
      EXPECT_TRUE(pathExists(name));
    });
  }
}

// With less than 64 KiB spare on "/flash", the temporary file goes to "/ram";
// with no "/ram" either the stream stays closed and nothing is recorded.
TEST(StagedFiles, FullDestinationFallsBackToRamOrFails) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  ScratchMount flash(root.at("/flash"), 32768);
  SKIP_UNLESS_MOUNTED(flash);
  runInChroot(root.path(), [] {
    StagedFiles staged;
    std::ofstream stream = createStagedFile(staged, "/flash/file", 1, 0);
    EXPECT_FALSE(stream.is_open());
    EXPECT_TRUE(staged.empty());
  });
  root.makeDirs("/ram");
  runInChroot(root.path(), [] {
    StagedFiles staged;
    std::ofstream stream = createStagedFile(staged, "/flash/PCKGS_CHANGED", 1, 0);
    EXPECT_TRUE(stream.is_open());
    ASSERT_NE(staged.find("/flash/PCKGS_CHANGED"), nullptr);
    EXPECT_EQ(staged.find("/flash/PCKGS_CHANGED")->target.substr(0, 8), "/ram/tmp");
  });
}

TEST(StagedFiles, TemporaryFileThatCannotBeOpenedIsNotRecorded) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs("/ram");
  chmod(root.path().c_str(), 0755);
  chmod(root.at("/ram").c_str(), 0777);
  std::string emptyRam = describeTree(root.at("/ram"));
  runInChroot(root.path(), [] {
    // Without root's privileges a read-only mode keeps the stream from opening
    // the file that mkstemp has just made.
    ASSERT_EQ(seteuid(65534), 0);
    StagedFiles staged;
    std::ofstream stream = createStagedFile(staged, "/flash/file", 0, 0400);
    EXPECT_FALSE(stream.is_open());
    EXPECT_EQ(errno, EACCES);
    EXPECT_TRUE(staged.empty());
  });
  EXPECT_EQ(describeTree(root.at("/ram")), emptyRam);  // no temporary file left behind
}

TEST(StagedFiles, CancelLeavesNoTemporaryFileAnywhere) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs("/flash/var");
  root.makeDirs("/ram");
  root.writeFile("/ram/moved", "stays");
  std::string before = describeTree(root.path());
  runInChroot(root.path(), [] {
    StagedFiles staged;
    { std::ofstream s = createStagedFile(staged, "/flash/a", 1, 0); s << "a"; }
    { std::ofstream s = createStagedFile(staged, "/flash/var/b", 0, 0644); s << "b"; }
    { std::ofstream s = createStagedFile(staged, "/elsewhere/c", 0, 0); s << "c"; }
    stageMove(staged, "/ram/moved", "/flash/moved");
    stageSymlink(staged, "x", "/flash/link");
    cancelStaged(staged);
    EXPECT_TRUE(staged.empty());
  });
  EXPECT_EQ(describeTree(root.path()), before);
}

// --- Package removal ---------------------------------------------------------

// Existing files, the package's directory, its image and its boot image are
// staged for deletion; a pending write of a file that does not exist yet is
// dropped with its temporary file.
TEST(StagedFiles, PackageRemovalStagesFilesDirectoryImageAndBootImage) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile("/flash/bin/tool", "t");
  root.writeFile("/flash/lib/lib.so", "l");
  root.writeFile("/flash/var/pdb/pkg/image", "i");
  root.writeFile("/flash/bootimage", "b");
  root.makeDirs("/ram");
  runInChroot(root.path(), [] {
    StagedFiles staged;
    std::string temporary = stageWrite(staged, "/flash/bin/new", "n");
    InstalledPackage package("pkg");
    package.files = {"/bin/tool", "/lib/lib.so", "/lib/missing", "/bin/new"};
    package.headerFlags = OwnsBootImage;
    package.pending = PendingAction::Uninstall;
    stagePackageRemoval(staged, package);
    std::vector<std::string> expected = {"/flash/bin/tool", "/flash/bootimage", "/flash/lib/lib.so",
                                         "/flash/var/pdb/pkg/", "/flash/var/pdb/pkg/image"};
    EXPECT_EQ(keys(staged), expected);
    for (const auto& entry : staged.entries) EXPECT_EQ(entry.second.kind, StagedKind::Delete) << entry.first;
    EXPECT_FALSE(pathExists(temporary));
    EXPECT_TRUE(package.files.empty());
    EXPECT_EQ(package.pending, PendingAction::None);
  });
}

TEST(StagedFiles, SharedBootImageIsKept) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile("/flash/bootimage", "b");
  ASSERT_EQ(link(root.at("/flash/bootimage").c_str(), root.at("/flash/second").c_str()), 0);
  runInChroot(root.path(), [] {
    StagedFiles staged;
    InstalledPackage owner("pkg");
    owner.headerFlags = OwnsBootImage;
    stagePackageRemoval(staged, owner);
    EXPECT_EQ(staged.find("/flash/bootimage"), nullptr);
  });
}

// --- Path helpers --------------------------------------------------------------

TEST(ParentDirectory, Table) {
  struct Case {
    const char* path;
    const char* parent;
  };
  const Case cases[] = {
      {"/flash/var/pdb/pkg/", "/flash/var/pdb"},
      {"/flash/var/pdb/pkg", "/flash/var/pdb"},
      {"/flash/bin/x", "/flash/bin"},
      {"/flash///", "/"},
      {"/flash", "/"},
      {"/", "."},
      {"///", "."},
      {"", "."},
      {"name", "."},
      {"a/b", "a"},
      {"a/b//", "a"},
      {".", "."},
  };
  for (const Case& c : cases) EXPECT_EQ(parentDirectory(c.path), c.parent) << c.path;
}

// Missing parents are made with mode 0755 under umask 022; an existing
// directory or a file in the way is left alone.
TEST(MakeDirectories, CreatesMissingParentsAndLeavesWhatExists) {
  TempRoot root;
  ::umask(022);
  makeDirectories(root.at("/a/b/c"));
  struct stat info;
  ASSERT_EQ(stat(root.at("/a/b/c").c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  root.writeFile("/a/file", "f");
  std::string before = describeTree(root.path());
  makeDirectories(root.at("/a"));
  makeDirectories(root.at("/a/file"));        // a file in the way: nothing happens
  makeDirectories(root.at("/a/file/below"));  // cannot be made below a file
  EXPECT_EQ(describeTree(root.path()), before);
}

}  // namespace
