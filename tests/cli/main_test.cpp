// The built program, for what only a real process shows: the settings read
// at its start, its exit status, the emulator board, and chroot.
#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/test_packages.h"
#include "support/test_root.h"

namespace installer {
namespace {

ProcessResult runInstaller(const std::vector<std::string>& arguments, const std::string& board,
                           const std::string& settings = "/nonexistent", const std::string& input = "") {
  return runProcess(INSTALLER_BINARY, arguments, input,
                    {{"INSTALLER_SYSTEM_CONF", settings}, {"board", board}, {"ASAN_OPTIONS", "detect_leaks=0"}});
}

TEST(InstallerProgram, UsageSettingsDiagnosticsAndTheEmulatorBoard) {
  TestRoot root;
  root.write("/system.conf", "flagged 1\nwhatever 3\n");
  const std::string usage = "usage: installer [-q] [-r <root>] [-]\n", conf = root.host("/system.conf");
  ProcessResult result = runInstaller({"--reinstall", "--bogus", "--reinstall"}, "qemu_p9x", conf);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "\nResuming upgrade...\n" + usage);
  EXPECT_EQ(result.err, conf + ":2: unknown setting \"whatever\", line ignored\n");
  // The emulator reads no option and touches nothing.
  std::string before = root.tree();
  result = runInstaller({"--bogus", "-r", root.path()}, "qemu_p9");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(root.tree(), before);
}

TEST(InstallerProgram, InstallsIntoTheRootItChangesTo) {
  SKIP_UNLESS_ROOT("-r chroots");
  TestRoot root;
  std::string hello = signedPackage(packageRecipe("hello", v(1, 0), {fileEntry("bin/hello", "hi\n")}));
  ProcessResult result = runInstaller({"-q", "-r", root.path(), "-"}, "", "/nonexistent", hello);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(root.read("/flash/bin/hello"), "hi\n");
}

}  // namespace
}  // namespace installer
