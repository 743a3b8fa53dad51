// What the check of a plan tells the disk-space count: the inodes a plan
// makes and the ones it takes away, so that an upgrade whose new files
// replace the old ones needs no inodes beside them.
#include "staging/commit_preflight.h"

#include <gtest/gtest.h>

#include "support/recorded_output.h"
#include "support/simulated_device.h"

namespace installer {
namespace {

CommitStep step(StepKind kind, const std::string& path, const std::string& source = "") {
  CommitStep made;
  made.kind = kind;
  made.path = path;
  made.source = source;
  return made;
}

// A removal of something there frees its inode, of something absent none;
// a file renamed over another frees the other's and only moves its own; a
// link is a new inode, and so is each directory made above it.
TEST(CommitPreflight, CountsTheInodesMadeAndFreed) {
  SimulatedDevice device({{"/"}});
  for (const char* path : {"/flash/old", "/flash/new", "/flash/replaced"}) ASSERT_TRUE(device.addFile(path, path));
  RecordedOutput output;
  InstallerState state(device, output);
  CommitPlan plan;
  plan.steps = {step(StepKind::Remove, "/flash/old"), step(StepKind::Remove, "/flash/absent"),
                step(StepKind::Rename, "/flash/replaced", "/flash/new"), step(StepKind::Link, "/flash/d/link", "x")};
  PlanEffects effects;
  ASSERT_TRUE(preflightCommit(state, plan, &effects)) << output.printed;
  EXPECT_EQ(effects.freed, (std::vector<std::string>{"/flash/old", "/flash/replaced"}));
  EXPECT_EQ(effects.created, (std::vector<std::string>{"/flash/d", "/flash/d/link"}));
}

}  // namespace
}  // namespace installer
