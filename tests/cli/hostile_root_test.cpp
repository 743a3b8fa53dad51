// A device root whose database holds directories where files belong: the
// standard file stream would throw on the first read and end the process.
#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/temp_root.h"

namespace {

TEST(HostileRoot, DirectoriesInPlaceOfDatabaseFilesDoNotEndTheRun) {
  TempRoot root;
  for (const char* path : {"/flash/var/pdb/foo/version", "/flash/var/pdb/bar/image", "/flash/var/pdb/baz/files",
                           "/flash/var/pdb/baz/deps", "/flash/var/pdb/foo/disabled", "/ram/pdb/foo/schedule"}) {
    root.makeDirs(path);
  }
  ProcessResult result = runInstaller({"-r", root.path(), "--show"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("foo"), std::string::npos);
}

}  // namespace
