#include "platform/loop_mount.h"

#include <sys/stat.h>
#include <unistd.h>

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

TEST_F(LoopMountTest, FindsMarkerInImageAtOffsetAndDetaches) {
  root.writeFile("/image/FORCE_DEFCONF_ON_RESET", "");
  root.writeFile("/image/other", "x");
  std::string package = writePackage(imageOf("/image"));

  EXPECT_EQ(look(package, imageOffset), ImageFileResult::Present);
  expectEverythingTakenDown();
  struct stat info;
  ASSERT_EQ(stat(mountPoint().c_str(), &info), 0) << "the mount point is created";
  EXPECT_EQ(info.st_mode & 07777, 0755u);
}

TEST_F(LoopMountTest, ImageWithoutMarkerIsAbsent) {
  root.writeFile("/image/other", "x");
  std::string package = writePackage(imageOf("/image"));

  EXPECT_EQ(look(package, imageOffset), ImageFileResult::Absent);
  expectEverythingTakenDown();
}

TEST_F(LoopMountTest, MarkerAsDirectoryCounts) {
  root.makeDirs("/image/FORCE_DEFCONF_ON_RESET");
  std::string package = writePackage(imageOf("/image"));

  EXPECT_EQ(look(package, imageOffset), ImageFileResult::Present);
  expectEverythingTakenDown();
}

TEST_F(LoopMountTest, SymbolicLinkMarkerDoesNotCountEvenWhenItsTargetExists) {
  // The link leads out of the image to a file that exists on this system;
  // following it would take the running system's file for the image's.
  root.makeDirs("/image");
  root.writeFile("/outside", "");
  ASSERT_EQ(symlink(root.at("/outside").c_str(), root.at("/image/FORCE_DEFCONF_ON_RESET").c_str()), 0);
  std::string package = writePackage(imageOf("/image"));

  EXPECT_EQ(look(package, imageOffset), ImageFileResult::Absent);
  expectEverythingTakenDown();
}

TEST_F(LoopMountTest, WrongOffsetFailsAtMountAndDetaches) {
  root.writeFile("/image/FORCE_DEFCONF_ON_RESET", "");
  std::string package = writePackage(imageOf("/image"));

  testing::internal::CaptureStderr();
  ImageFileResult result = look(package, imageOffset - 1);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, ImageFileResult::Failed);
  EXPECT_EQ(errors.rfind("mount squash: ", 0), 0u) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
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

TEST_F(LoopMountTest, OffsetBeyondTheDriversRangeIsRefusedNotWrapped) {
  root.writeFile("/image/FORCE_DEFCONF_ON_RESET", "");
  std::string package = writePackage(imageOf("/image"));

  testing::internal::CaptureStderr();
  ImageFileResult result = look(package, 0x80000000u + imageOffset);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SET_OFFSET: Value too large for defined data type\n");
  EXPECT_EQ(result, ImageFileResult::Failed);
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
