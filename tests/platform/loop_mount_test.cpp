// Looking into a squashfs image inside a larger file through a loop device.
// Needs root (loop devices and mount) and mksquashfs.
#include "platform/loop_mount.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/host_files.h"
#include "support/process_runner.h"

namespace installer {
namespace {

// The image sits between other bytes, at an offset that is a multiple of no
// sector size, as in a package file.
constexpr uint32_t offset = 1237;

bool mounted(const std::string& path) {
  std::ifstream mounts("/proc/mounts");
  std::string device, point, rest;
  while (mounts >> device >> point && std::getline(mounts, rest)) {
    if (point == path) return true;
  }
  return false;
}

TEST(LoopMount, LooksIntoTheImageAndTakesEverythingDown) {
  SKIP_UNLESS_ROOT("attaches loop devices and mounts");
  if (std::system("command -v mksquashfs >/dev/null") != 0) GTEST_SKIP() << "needs mksquashfs (squashfs-tools)";
  std::string root = makeHostTempDir(), mountPoint = root + "/branding";
  ASSERT_EQ(mkdir((root + "/src").c_str(), 0755) | mkdir(mountPoint.c_str(), 0755), 0);
  writeHostFile(root + "/src/FORCE_DEFCONF_ON_RESET", "");
  // Leads out of the image: never the file itself.
  ASSERT_EQ(symlink("/etc/hostname", (root + "/src/link").c_str()), 0);
  std::string build = "mksquashfs " + root + "/src " + root + "/image -quiet -noappend >/dev/null";
  ASSERT_EQ(std::system(build.c_str()), 0);
  writeHostFile(root + "/pkg", std::string(offset, 'P') + readHostFile(root + "/image") + std::string(300, 'T'));
  Status failure;
  auto look = [&](const char* file, uint32_t at) {
    return lookIntoImage(root + "/pkg", at, mountPoint, mountPoint + "/" + file, failure);
  };
  EXPECT_EQ(look("FORCE_DEFCONF_ON_RESET", offset), ImageFileResult::Present);
  EXPECT_EQ(look("missing", offset), ImageFileResult::Absent);
  EXPECT_EQ(look("link", offset), ImageFileResult::Absent);
  EXPECT_TRUE(failure.isOk());
  EXPECT_EQ(look("FORCE_DEFCONF_ON_RESET", offset + 1), ImageFileResult::Failed);
  EXPECT_EQ(failure.subject(), "mount squash");
  EXPECT_FALSE(mounted(mountPoint));
  removeHostTree(root);
}

}  // namespace
}  // namespace installer
