// The order of a commit's steps, on which its safety after a power cut
// rests: what a later step may need must still be where the journal says.
#include "staging/commit_plan.h"

#include <gtest/gtest.h>

#include "support/simulated_device.h"
#include "support/status_assertions.h"

namespace installer {
namespace {

std::string kindName(StepKind kind) {
  const char* names[] = {"remove", "link", "rename", "copy"};
  return names[static_cast<int>(kind)];
}

// Removals and links first; then renames on one file system; then the
// copies out of "/ram", the one that grows the flash least first; last the
// rename of the package file the copies can be made again from, which must
// stay at its place until every copy is done.
TEST(CommitPlan, PackageFileFeedingCopiesIsRenamedLast) {
  SimulatedDevice device({{"/"}, {"/ram", 4096, 1024, 0, true}});
  // The file at "/flash/f/replaced" grows by 2 bytes, "/flash/f/new" by 8.
  for (const char* path : {"/flash/old", "/flash/t1", "/flash/pkg.kmp", "/ram/new", "/ram/replacing"}) {
    ASSERT_TRUE(device.addFile(path, path));
  }
  ASSERT_TRUE(device.addFile("/flash/f/replaced", "twelve bytes"));
  StagedFiles staged(device);
  staged.packageFiles = {"/flash/pkg.kmp"};
  stageRecord(staged, "/flash/var/pdb/p/image", StagedKind::Move, "/flash/pkg.kmp");
  stageRecord(staged, "/flash/f/new", StagedKind::Write, "/ram/new");
  stageRecord(staged, "/flash/f/replaced", StagedKind::Write, "/ram/replacing");
  stageRecord(staged, "/flash/a", StagedKind::Move, "/flash/t1");
  stageRecord(staged, "/flash/z", StagedKind::Symlink, "target");
  stageRecord(staged, "/flash/old", StagedKind::Delete, "");
  staged.entries["/flash/f/new"].origin.file = 0;
  staged.entries["/flash/f/replaced"].origin = FileOrigin{0, 0, 1};
  CommitPlan plan;
  ASSERT_TRUE(isOk(planCommit(staged, true, plan)));
  std::string order;
  for (const CommitStep& step : plan.steps) order += kindName(step.kind) + " " + step.path + "\n";
  EXPECT_EQ(order,
            "remove /flash/old\nlink /flash/z\nrename /flash/a\ncopy /flash/f/replaced\ncopy /flash/f/new\n"
            "rename /flash/var/pdb/p/image\n");
  // Both copies name the one package file, measured.
  ASSERT_EQ(plan.packages.size(), 1u);
  EXPECT_EQ(plan.packages[0].path, "/flash/pkg.kmp");
  EXPECT_EQ(plan.packages[0].length, 14u);
  EXPECT_EQ(plan.steps[3].package, 0);
  EXPECT_EQ(plan.steps[4].package, 0);
}

}  // namespace
}  // namespace installer
