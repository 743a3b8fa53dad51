#include "platform/loop_mount.h"

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "support/loop_support.h"
#include "support/temp_root.h"

namespace {

constexpr uint32_t imageOffset = 1237;  // deliberately not a multiple of any sector size

class LoopMountTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string reason = loopMountSkipReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    lock = std::make_unique<LoopTestLock>();
  }

  // A file with `imageOffset` bytes of other data, the image, and a tail,
  // as a package file carries its image between other parts.
  std::string writePackage(const std::string& image) {
    std::string package = root.at("/pkg/branding.kmp");
    root.writeFile("/pkg/branding.kmp", std::string(imageOffset, 'P') + image + std::string(300, 'T'));
    return package;
  }

  std::string imageOf(const std::string& sourceDir) {
    std::string image = buildSquashfsImage(root.at(sourceDir));
    EXPECT_FALSE(image.empty()) << "mksquashfs failed";
    return image;
  }

  ImageFileResult look(const std::string& package, uint32_t offset) {
    return findFileInImage(package, offset, mountPoint(), root.at("/ram/branding/FORCE_DEFCONF_ON_RESET"));
  }

  std::string mountPoint() const { return root.at("/ram/branding"); }

  void expectEverythingTakenDown() {
    EXPECT_FALSE(isMountPoint(mountPoint()));
    for (const std::string& backing : attachedLoopBackingFiles()) {
      EXPECT_EQ(backing.find(root.path()), std::string::npos) << "still attached: " << backing;
    }
  }

  TempRoot root;
  std::unique_ptr<LoopTestLock> lock;
};

// The marker counts as a file or a directory, never as a symbolic link: the
// link here leads out of the image to a file that exists on this system, and
// following it would take the running system's file for the image's.
TEST_F(LoopMountTest, FindsMarkerInImageAtOffsetAndDetaches) {
  root.writeFile("/outside", "");
  struct Case {
    const char* what;
    std::function<void(const std::string&)> fill;
    ImageFileResult result;
  } cases[] = {
      {"file", [&](const std::string& dir) { root.writeFile(dir + "/FORCE_DEFCONF_ON_RESET", ""); },
       ImageFileResult::Present},
      {"directory", [&](const std::string& dir) { root.makeDirs(dir + "/FORCE_DEFCONF_ON_RESET"); },
       ImageFileResult::Present},
      {"none", [&](const std::string&) {}, ImageFileResult::Absent},
      {"symbolic link", [&](const std::string& dir) {
         ASSERT_EQ(symlink(root.at("/outside").c_str(), root.at(dir + "/FORCE_DEFCONF_ON_RESET").c_str()), 0);
       }, ImageFileResult::Absent},
  };
  for (const Case& c : cases) {
    std::string dir = std::string("/image-") + c.what[0];
    root.writeFile(dir + "/other", "x");
    c.fill(dir);
    EXPECT_EQ(look(writePackage(imageOf(dir)), imageOffset), c.result) << c.what;
    expectEverythingTakenDown();
  }
  struct stat info;
  ASSERT_EQ(stat(mountPoint().c_str(), &info), 0) << "the mount point is created";
  EXPECT_EQ(info.st_mode & 07777, 0755u);
}

// An offset that misses the image fails at the mount; one beyond the loop
// driver's range is refused, not wrapped. Either way nothing stays attached.
TEST_F(LoopMountTest, WrongOrTooLargeOffsetFailsAndDetaches) {
  root.writeFile("/image/FORCE_DEFCONF_ON_RESET", "");
  std::string package = writePackage(imageOf("/image"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(look(package, imageOffset - 1), ImageFileResult::Failed);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors.rfind("mount squash: ", 0), 0u) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
  expectEverythingTakenDown();
  testing::internal::CaptureStderr();
  EXPECT_EQ(look(package, 0x80000000u + imageOffset), ImageFileResult::Failed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SET_OFFSET: Value too large for defined data type\n");
  expectEverythingTakenDown();
}

TEST_F(LoopMountTest, MissingPackageFileFailsAtOpen) {
  testing::internal::CaptureStderr();
  ImageFileResult result = look(root.at("/pkg/none.kmp"), imageOffset);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "open: No such file or directory\n");
  EXPECT_EQ(result, ImageFileResult::Failed);
  EXPECT_TRUE(root.exists("/ram/branding")) << "directories are made before the package is opened";
  expectEverythingTakenDown();
}

TEST_F(LoopMountTest, LongPackagePathIsAcceptedAsLoopName) {
  std::string longDir = "/" + std::string(100, 'd');
  root.writeFile("/image/FORCE_DEFCONF_ON_RESET", "");
  std::string image = imageOf("/image");
  root.writeFile(longDir + "/branding.kmp", std::string(imageOffset, 'P') + image);

  EXPECT_EQ(look(root.at(longDir + "/branding.kmp"), imageOffset), ImageFileResult::Present);
  expectEverythingTakenDown();
}

}  // namespace
