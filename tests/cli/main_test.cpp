// The built program, for what only a real process shows: the settings read
// at its start, its exit status, the emulator board, and chroot.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/host_files.h"
#include "support/process_runner.h"
#include "support/test_packages.h"

namespace installer {
namespace {

ProcessResult runInstaller(const std::vector<std::string>& arguments, const std::string& board,
                           const std::string& settings = "/nonexistent", const std::string& input = "") {
  return runProcess(INSTALLER_BINARY, arguments, input,
                    {{"INSTALLER_SYSTEM_CONF", settings}, {"board", board}, {"ASAN_OPTIONS", "detect_leaks=0"}});
}

// A device root in a host directory, laid out as a device, for the program
// to chroot into.
std::string hostDeviceRoot() {
  std::string root = makeHostTempDir();
  std::error_code error;
  for (const char* dir : {"/flash/var/pdb", "/ram", "/rw", "/tmp"})
    std::filesystem::create_directories(root + dir, error);
  return root;
}

TEST(InstallerProgram, UsageSettingsDiagnosticsAndTheEmulatorBoard) {
  const std::string root = hostDeviceRoot(), conf = root + "/system.conf";
  writeHostFile(conf, "flagged 1\nwhatever 3\n");
  const std::string usage = "usage: installer [-q] [-r <root>] [-]\n";
  ProcessResult result = runInstaller({"--reinstall", "--bogus", "--reinstall"}, "qemu_p9x", conf);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "\nResuming upgrade...\n" + usage);
  EXPECT_EQ(result.err, conf + ":2: unknown setting \"whatever\", line ignored\n");
  // The emulator reads no option and touches nothing.
  std::string before = describeTree(root, "/");
  result = runInstaller({"--bogus", "-r", root}, "qemu_p9");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out + result.err, "");
  EXPECT_EQ(describeTree(root, "/"), before);
  removeHostTree(root);
}

TEST(InstallerProgram, InstallsIntoTheRootItChangesTo) {
  SKIP_UNLESS_ROOT("-r chroots");
  const std::string root = hostDeviceRoot();
  std::string hello = signedPackage(packageRecipe("hello", v(1, 0), {fileEntry("bin/hello", "hi\n")}));
  ProcessResult result = runInstaller({"-q", "-r", root, "-"}, "", "/nonexistent", hello);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(readHostFile(root + "/flash/bin/hello"), "hi\n");
  removeHostTree(root);
}

}  // namespace
}  // namespace installer
