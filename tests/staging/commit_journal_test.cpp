// The journal: written whole, read back exactly, and refused as a whole
// when anything in it is not what this installer writes or would act on.
#include "staging/commit_journal.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "install/package_rebuild.h"
#include "platform/crypto.h"
#include "platform/device_paths.h"
#include "staging/staged_commit.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/test_packages.h"

namespace installer {
namespace {

CommitStep step(StepKind kind, const std::string& path, const std::string& source = "", uint64_t inode = 0) {
  CommitStep made;
  made.kind = kind;
  made.path = path;
  made.source = source;
  made.inode = inode;
  return made;
}

CommitPlan everyKind() {
  CommitPlan plan;
  plan.manifestDigest = std::string(64, 'a');
  plan.packages.push_back(PackageFileRef{"/rw/pckg/.download/a b.kmp", 1234, Sha256{1, 2, 3}});
  plan.steps = {step(StepKind::Remove, "/flash/var/pdb/old/", "", 77), step(StepKind::Link, "/flash/l", "../x y"),
                step(StepKind::Rename, "/flash/bin/x", "/flash/bin/tmpAbc123", 78),
                step(StepKind::Rename, "/flash/m", "/flash/l")};
  CommitStep copy = step(StepKind::Copy, "/flash/lib/big", "/ram/tmpXyz789");
  copy.temporary = "/flash/lib/tmpQwe456";
  copy.size = 65536;
  copy.mode = 0755;
  copy.digest = Sha256{9, 9};
  copy.package = 0;
  copy.member = UINT32_MAX;  // the largest a journal may hold
  copy.record = UINT32_MAX;
  plan.steps.push_back(copy);
  return plan;
}

JournalRead readText(const std::string& text, CommitPlan& plan, std::string& why) {
  auto device = routerDevice(4096, 1 << 20);
  EXPECT_TRUE(device->addFile(paths::commitJournal, text));
  return readJournal(*device, paths::commitJournal, plan, why);
}

// Records `plan` as the journal of an interrupted commit and finishes it,
// which gives up and takes the journal away: what was said.
std::string finishGivingUp(SimulatedDevice& device, const CommitPlan& plan, PackageFileContents* contents = nullptr) {
  EXPECT_TRUE(device.addFile(paths::commitJournal, journalText(plan)));
  RecordedOutput output;
  InstallerState state(device, output);
  EXPECT_EQ(finishInterruptedCommit(state, contents), InterruptedCommit::GaveUp);
  EXPECT_FALSE(device.has(paths::commitJournal));
  return output.printed;
}

uint64_t inodeOf(SimulatedDevice& device, const std::string& path) {
  FileStatus info{};
  EXPECT_TRUE(device.linkStatus(path, info).isOk()) << path;
  return info.inode;
}

std::string contentsOf(const SimulatedDevice& device, const std::string& path) {
  std::string contents;
  EXPECT_TRUE(device.read(path, contents)) << path;
  return contents;
}

// The header, `body`, and the digest line that makes the text whole.
std::string sealed(const std::string& body, const std::string& header = "installer-journal 1\n") {
  std::string whole = header + body;
  Digest digest(Digest::Sha256);
  digest.update(whole.data(), whole.size());
  Sha256 result{};
  digest.finish(result.data());
  return whole + "end " + hexDigest(result) + "\n";
}

TEST(CommitJournal, ReadsBackWhatWasWritten) {
  CommitPlan plan, read;
  std::string why;
  std::string text = journalText(everyKind());
  ASSERT_EQ(readText(text, read, why), JournalRead::Read) << why;
  EXPECT_EQ(journalText(read), text);
  EXPECT_NE(text.find("rename - /flash/m /flash/l\n"), std::string::npos);
  EXPECT_NE(text.find("link /flash/l ../x\\040y\n"), std::string::npos);
  auto device = routerDevice(4096, 1 << 20);
  EXPECT_EQ(readJournal(*device, paths::commitJournal, read, why), JournalRead::Absent);
}

// A journal planted or damaged is not acted on, as a whole.
TEST(CommitJournal, RefusesWhatItWouldNotWrite) {
  const std::string whole = journalText(everyKind()), digits(64, '0');
  std::string flipped = whole;
  flipped[40] ^= 1;
  const struct {
    std::string text;
    const char* why;
  } cases[] = {
      {sealed("rename 5 /etc/passwd /flash/planted\n"), "a change of /etc/passwd"},
      {sealed("remove 5 /flash/../etc/hosts\n"), "a change of /flash/../etc/hosts"},
      {sealed("remove 5 /flash/./bin\n"), "a change of /flash/./bin"},
      {sealed("remove 5 /flash/\n"), "a change of /flash/"},
      {sealed("rename 5 /flash/var/pdb/.installer-temporaries /flash/x\n"),
       "a change of /flash/var/pdb/.installer-temporaries"},
      {sealed("rename 5 /flash/x /etc/shadow\n"), "a file taken from /etc/shadow"},
      {sealed("copy 1 644 " + digits + " - 0 0 /flash/a /ram/tmpAbc123 /flash/b/tmpQwe456\n"),
       "a copy by way of /flash/b/tmpQwe456"},
      {sealed("copy 1 644 " + digits + " 0 0 0 /flash/a /ram/tmpAbc123 /flash/tmpQwe456\n"),
       "a copy from an unknown package file"},
      {sealed("copy 1 999 " + digits + " - 0 0 /flash/a /ram/tmpAbc123 /flash/tmpQwe456\n"), "a bad copy line"},
      {sealed("copy 1 644 " + digits + " - 4294967296 0 /flash/a /ram/tmpAbc123 /flash/tmpQwe456\n"),
       "a bad copy line"},
      {sealed("package 1 " + digits + " /etc/pkg\n"), "a package file at /etc/pkg"},
      {sealed("link /flash/l\n"), "a bad link line"},
      {sealed("manifest abc\n"), "a bad manifest line"},
      {sealed("move /flash/a /flash/b\n"), "unknown line \"move\""},
      {whole.substr(0, whole.size() - 2), "it is cut short or damaged"},
      {flipped, "it is cut short or damaged"},
      {sealed("", "installer-journal 2\n"), "it is not in the form this installer writes"},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    CommitPlan plan;
    std::string why;
    EXPECT_EQ(readText(text, plan, why), JournalRead::Refused);
    EXPECT_EQ(why, reason);
    EXPECT_TRUE(plan.steps.empty());
  }
}

// A journal that passes the reading still only acts on what it recorded: a
// rename of a directory (the database, say) is refused at the step, the
// other steps are done, and the run carries on.
TEST(CommitJournal, StepsActOnlyOnWhatWasRecorded) {
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& root = *device;
  ASSERT_TRUE(root.addFile("/flash/var/pdb/pkg/version", "1") && root.addFile("/flash/keep", "mine"));
  CommitPlan plan;
  plan.steps = {step(StepKind::Remove, "/flash/keep", "", inodeOf(root, "/flash/keep") + 1),
                step(StepKind::Rename, "/flash/away", "/flash/var/pdb", inodeOf(root, "/flash/var/pdb"))};
  EXPECT_EQ(finishGivingUp(root, plan),
            "ERROR: the interrupted commit could not install /flash/away: /flash/var/pdb is not a file\n");
  EXPECT_EQ(contentsOf(root, "/flash/keep"), "mine");
  EXPECT_EQ(contentsOf(root, "/flash/var/pdb/pkg/version"), "1");
}

// A copy whose source a power cut took, and whose package file is not the
// one recorded, cannot be made again: it is given up, reported, and the
// package file stays where it was instead of moving into the database, for
// another try.
TEST(CommitJournal, PackageFileStaysWhenItsCopiesCannotBeMade) {
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& root = *device;
  ASSERT_TRUE(root.addFile("/rw/pckg/.download/p.kmp", "changed since"));
  CommitPlan plan;
  plan.packages.push_back(PackageFileRef{"/rw/pckg/.download/p.kmp", 5, Sha256{}});
  CommitStep copy = step(StepKind::Copy, "/flash/lib/x", "/ram/tmpAbc123");
  copy.temporary = "/flash/lib/tmpQwe456";
  copy.package = 0;
  plan.steps = {copy, step(StepKind::Rename, "/flash/var/pdb/p/image", "/rw/pckg/.download/p.kmp",
                           inodeOf(root, "/rw/pckg/.download/p.kmp"))};
  PackageFileContents contents;
  EXPECT_EQ(finishGivingUp(root, plan, &contents),
            "ERROR: the interrupted commit could not install /flash/lib/x: its package file "
            "/rw/pckg/.download/p.kmp is gone or changed\n"
            "ERROR: the interrupted commit could not install /flash/var/pdb/p/image: /rw/pckg/.download/p.kmp is "
            "kept where it is, for another try\n");
  EXPECT_EQ(contentsOf(root, "/rw/pckg/.download/p.kmp"), "changed since");
}

// The package file recorded is still there, unchanged, but its copy cannot
// be made from it: its signature no longer verifies (the keys changed). The
// reason is the package's, not a mismatch with what was staged.
TEST(CommitJournal, CopiesFromAPackageThatNoLongerVerifiesAreGivenUp) {
  auto device = routerDevice(4096, 1 << 20);
  SimulatedDevice& root = *device;
  ASSERT_TRUE(
      root.addFile("/rw/pckg/.download/p.kmp", signedPackage(packageRecipe("p", v(1, 0), {fileEntry("lib/x", "x")}))));
  CommitPlan plan;
  plan.packages.resize(1);
  plan.packages[0].path = "/rw/pckg/.download/p.kmp";
  ASSERT_TRUE(measureFile(root, plan.packages[0].path, plan.packages[0].length, plan.packages[0].digest).isOk());
  CommitStep copy = step(StepKind::Copy, "/flash/lib/x", "/ram/tmpAbc123");
  copy.temporary = "/flash/lib/tmpQwe456";
  copy.package = 0;
  plan.steps = {copy};
  TrustKeys otherKeys{};
  PackageFileContents contents(&otherKeys);
  EXPECT_EQ(finishGivingUp(root, plan, &contents),
            "ERROR: the interrupted commit could not install /flash/lib/x: cannot be made again from "
            "/rw/pckg/.download/p.kmp: its package 0 does not verify\n");
  EXPECT_FALSE(root.has("/flash/lib/x"));
}

}  // namespace
}  // namespace installer
