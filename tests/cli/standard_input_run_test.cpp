// Installing from standard input: the stream is copied to flash only for a
// package that keeps it as its image.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/installer_main.h"
#include "platform/scratch_env.h"
#include "support/recorded_output.h"
#include "support/test_packages.h"
#include "support/test_root.h"

namespace installer {
namespace {

// Bytes that do not compress, so that the stream is as large as the file.
std::string noise(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 1;
  for (char& c : bytes) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  return bytes;
}

// A flash with room for the package's file once, and not for a second copy
// of the stream beside it: neither a package nor a bundle without an image
// keeps one.
TEST(StandardInputRun, StreamWithoutImageNeedsNoRoomForACopyOfIt) {
  const std::string data = noise(512 * 1024);
  PackageRecipe package = packageRecipe("big", v(1, 0), {fileEntry("bin/big", data)});
  BundleRecipe bundle;
  bundle.name = "all", bundle.version = v(1, 0), bundle.buildTime = testBuildTime, bundle.packages = {package};
  for (const std::string& stream : {signedPackage(package), signedBundle(bundle)}) {
    std::istringstream input(stream);
    ScratchEnv env(data.size() * 3 / 2);
    ASSERT_TRUE(env.addDirectories("/flash/var/pdb").isOk() && env.addDirectories("/ram").isOk());
    RecordedOutput output;
    int status = installerMain(env, output, {"-"}, input);
    const std::string& out = output.printed;
    EXPECT_EQ(status, ExitSuccess) << out;
    FileStatus installed;
    ASSERT_TRUE(env.status("/flash/bin/big", installed).isOk()) << out;
    EXPECT_EQ(installed.size, data.size());
  }
}

// One that carries an image keeps the whole stream as that image.
TEST(StandardInputRun, StreamWithImageIsKeptWhole) {
  PackageRecipe package = packageRecipe("kernel", v(1, 0), {fileEntry("boot/k", "k\n")});
  package.squashfsImage = "kernel image";
  BundleRecipe bundle;
  bundle.name = "all", bundle.version = v(1, 0), bundle.buildTime = testBuildTime, bundle.squashfsImage = "all image";
  bundle.packages = {packageRecipe("tool", v(1, 0), {fileEntry("bin/t", "t\n")})};
  const std::pair<std::string, std::string> cases[] = {{signedPackage(package), "kernel"},
                                                       {signedBundle(bundle), "all"}};
  for (const auto& [stream, name] : cases) {
    TestRoot root;
    std::istringstream input(stream);
    RecordedOutput output;
    int status = installerMain(root.env(), output, {"-"}, input);
    const std::string& out = output.printed;
    EXPECT_EQ(status, ExitSuccess) << out;
    EXPECT_TRUE(root.read("/flash/var/pdb/" + name + "/image") == stream) << name;
  }
}

}  // namespace
}  // namespace installer
