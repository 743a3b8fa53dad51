// Carrying out a staged set: the order of the passes, removals, links,
// renames, and the copy a rename across file systems falls back on.
#include "staging/staged_commit.h"

#include <gtest/gtest.h>

#include "platform/fault_env.h"
#include "support/staging_env.h"
#include "support/test_root.h"

namespace installer {
namespace {

// "/ram" is a file system of its own, so a rename from there to "/f"
// crosses file systems.
class Commit : public testing::Test {
 protected:
  TestRoot root;
  DiskEnv disks{root.env(), {{"/ram", 1, 4096, 100}}};
  FaultEnv env{disks};
  std::string left;  // the entries after the commit

  // Plants `files`, commits `entries` and gives "RESULT|STDOUT|STDERR".
  // The set is gone when it returns: a temporary file still there is no
  // longer its own.
  std::string commit(const char* files, const char* entries, bool showSpinner = false) {
    plant(root, files);
    StagedFiles staged(env);
    stageText(staged, entries);
    testing::internal::CaptureStdout(), testing::internal::CaptureStderr();
    std::string result = commitStaged(staged, showSpinner) ? "ok|" : "failed|";
    result += testing::internal::GetCapturedStdout() + "|";
    left = entriesText(staged);
    return result + testing::internal::GetCapturedStderr();
  }
};

// Removals and links come before renames, renames before copies: "/f/a" is
// renamed from the link pass 1 made, "/f/b" from the file pass 1 removed,
// and "/f/d" from a copy's destination, which by then holds only the first
// 512 bytes of what stood there. A copy that fails is reported and keeps
// the Write's temporary file.
TEST_F(Commit, PassesRunInOrder) {
  env.failAt(EnvCall::Write, 1, ENOSPC);
  EXPECT_EQ(
      commit("/f/y=y /f/c:600 /ram/x=x", "L /f/z payload|U /f/y|W /f/c /ram/x|M /f/a /f/z|M /f/b /f/y|M /f/d /f/c"),
      "failed||rename: No such file or directory\n write failed: No space left on device\n");
  EXPECT_EQ(root.tree("/f") + root.tree("/ram"),
            "/f/a -> payload\n/f/c 644 \"\"\n/f/d 644 <512 bytes>\n/ram/x 644 \"x\"\n");
}

// A removed directory loses its plain files, and goes itself only when
// nothing else is left in it; what is gone already is no failure. Links and
// renames make missing parents and replace what stands there. A failed link
// or rename is reported and the commit goes on.
TEST_F(Commit, RemovalsLinksAndRenames) {
  env.failAt(EnvCall::Rename, 1, EIO);
  EXPECT_EQ(commit("/f/d/f= /f/d/.h= /f/d/s/f= /f/p/f= /f/so= /f/file= /f/t1= /f/t2=2@755",
                   "U /f/d|U /f/p/|U /f/gone|L /f/i/image /bootimage|L /f/so so.2|L /f/file/l t|"
                   "W /f/u/a /f/t1|W /f/u/b/c /f/t2"),
            "failed||symlink: Not a directory\nrename: Input/output error\n");
  EXPECT_EQ(root.tree("/f"),
            "/f/d/\n/f/d/.h 644 \"\"\n/f/d/s/\n/f/d/s/f 644 \"\"\n/f/file 644 \"\"\n/f/i/\n/f/i/image -> /bootimage\n"
            "/f/so -> so.2\n/f/t1 644 \"\"\n/f/u/\n/f/u/b/\n/f/u/b/c 755 \"2\"\n");
}

// A rename across file systems becomes a copy: an existing destination
// keeps its mode, a new one takes the source's, a link standing there is
// replaced rather than followed. A Write's temporary file goes once copied,
// a Move's source stays. One spinner runs on across all copies, redrawn at
// most every 20 ticks and catching up 20 at a time.
TEST_F(Commit, RenameAcrossFileSystemsCopies) {
  EXPECT_EQ(commit("/f/tool=old@640 /ram/t1:40000@755 /ram/t2=2@775 /ram/t3=3@600 /ram/image=i /f/v=v /f/x>/f/v",
                   "W /f/tool /ram/t1|W /f/new/file /ram/t2|W /f/x /ram/t3|M /f/image /ram/image", true),
            "ok||\b/\b-\b\\\b||");
  EXPECT_EQ(left, "C /f/image /ram/image|C /f/new/file /ram/t2|C /f/tool /ram/t1|C /f/x /ram/t3");
  EXPECT_EQ(root.tree("/f") + root.tree("/ram"),
            "/f/image 644 \"i\"\n/f/new/\n/f/new/file 775 \"2\"\n/f/tool 640 <40000 bytes>\n"
            "/f/v 644 \"v\"\n/f/x 600 \"3\"\n/ram/image 644 \"i\"\n");
  EXPECT_EQ(commit("/ram/dir/f=", "M /f/dir /ram/dir"), "failed||");  // only a regular file is copied
  env.failAt(EnvCall::OpenRead, 5, EIO);  // four sources were opened above; the next one cannot be
  EXPECT_EQ(commit("/ram/y=y", "W /f/y /ram/y"), "failed||");
}

}  // namespace
}  // namespace installer
