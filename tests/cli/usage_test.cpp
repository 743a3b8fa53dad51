// End-to-end runs of the option handling that need no database.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/process_runner.h"
#include "support/temp_root.h"

namespace {

const std::string usage = "usage: installer [-q] [-r <root>] [-]\n";

TEST(Usage, UnknownOptionPrintsUsageAndSucceeds) {
  ProcessResult result = runInstaller({"--bogus"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, usage);
  EXPECT_EQ(result.err, "");
}

TEST(Usage, RootWithoutValuePrintsUsage) {
  ProcessResult result = runInstaller({"-r"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, usage);
  EXPECT_EQ(result.err, "");  // no root change was tried
  result = runInstaller({"-q", "-r"});
  EXPECT_EQ(result.out, usage);
}

TEST(Usage, EachReinstallPrintsItsNotice) {
  ProcessResult result = runInstaller({"--reinstall", "--reinstall", "-x"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "\nResuming upgrade...\n\nResuming upgrade...\n" + usage);
}

TEST(Usage, ReinstallNoticeComesBeforeUsage) {
  ProcessResult result = runInstaller({"--reinstall", "--what"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "\nResuming upgrade...\n" + usage);
}

TEST(Usage, OptionsAfterUnknownOneAreNotRead) {
  ProcessResult result = runInstaller({"--what", "--reinstall"});
  EXPECT_EQ(result.out, usage);
}

TEST(Usage, EmulatorBoardReadsNoOptionAndTouchesNothing) {
  TempRoot root;
  std::string before = describeTree(root.path());
  ProcessResult result = runInstaller({"--bogus", "-r", root.path()}, "", {{"board", "qemu_p9"}});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(describeTree(root.path()), before);
}

TEST(Usage, OtherBoardIsNotAnEmulator) {
  ProcessResult result = runInstaller({"--bogus"}, "", {{"board", "qemu_p9x"}});
  EXPECT_EQ(result.out, usage);
}

TEST(RootChange, FailedChrootStopsTheRun) {
  ProcessResult result = runInstaller({"-r", "/nonexistent/root/for/installer", "--show"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("chroot: ", 0), 0u) << result.err;
}

TEST(RootChange, RootReadBeforeCommitOrCancelIsChangedFirst) {
  // Otherwise "-r /mnt/other --commit" would carry out the live system's manifest.
  for (const char* mode : {"--commit", "--cancel"}) {
    ProcessResult result = runInstaller({"-r", "/nonexistent/root/for/installer", mode});
    EXPECT_EQ(result.exitStatus, 1) << mode;
    EXPECT_EQ(result.out, "") << mode;
    EXPECT_EQ(result.err.rfind("chroot: ", 0), 0u) << mode << ": " << result.err;
  }
}

TEST(RootChange, FailedChrootNamesTheSystemError) {
  TempRoot root;
  root.writeFile("/not-a-directory", "x");
  ProcessResult result = runInstaller({"-r", root.at("/not-a-directory")});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, std::string("chroot: ") + std::strerror(ENOTDIR) + "\n");
}

}  // namespace

namespace {

TEST(RootChange, CancelActsOnTheManifestOfTheRootGivenBeforeIt) {
  TempRoot root;
  root.writeFile("/ram/MANIFEST", "U /flash/a\n");
  root.writeFile("/flash/a", "keep");
  ProcessResult result = runInstaller({"-r", root.path(), "--cancel"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(root.exists("/ram/MANIFEST"));
  EXPECT_EQ(root.readFile("/flash/a"), "keep");
}

}  // namespace
