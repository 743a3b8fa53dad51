#include "platform/system_settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/simulated_device.h"

namespace installer {
namespace {

// Numbers are decimal (a leading 0 too) or 0x-hex. A bad line is named by
// file and line number and changes nothing: the values are the good lines'.
TEST(SystemSettings, ParsesAndLoadsNamingWhatIsWrong) {
  std::istringstream input(
      "flagged 1\n\n device-mode-any-system\t1 # on\nmin-system-version 010\n"
      "safe-package 0x07016600 0x0701FFFF 10 20 7\nprocessor-version 0xFFFFFFFF\n"
      "flash-ioctl-result -0x80000000\nflagged 2\nFlagged 0\nsafe-package 1 2 3 4 5 6\n"
      "flash-ioctl-result 2147483648\nrequire-signed-bundles 1\nrequire-signed-bundles 2\n");
  std::ostringstream diagnostics;
  SystemSettings s;
  parseSystemSettings(input, "conf", s, diagnostics);
  EXPECT_EQ(diagnostics.str(),
            "conf:8: malformed value for \"flagged\", line ignored\n"
            "conf:9: unknown setting \"Flagged\", line ignored\n"
            "conf:10: malformed value for \"safe-package\", line ignored\n"
            "conf:11: malformed value for \"flash-ioctl-result\", line ignored\n"
            "conf:13: malformed value for \"require-signed-bundles\", line ignored\n");
  const SafePackageRange& r = s.safePackages.at(0);
  EXPECT_EQ(std::vector<int64_t>({s.flagged, s.deviceModeAnySystem, s.hasProcessorVersion, s.hasFlashIoctlResult,
                                  s.requireSignedBundles, SystemSettings().requireSignedBundles,
                                  int64_t(s.safePackages.size()), r.minVersion, r.maxVersion, r.minBuildTime,
                                  r.maxBuildTime, r.extra, s.minSystemVersion, s.processorVersion, s.flashIoctlResult}),
            std::vector<int64_t>({1, 1, 1, 1, 1, 0, 1, 0x07016600, 0x0701FFFF, 10, 20, 7, 10, 0xFFFFFFFF, INT32_MIN}));
  // A missing file means the defaults, silently; one that is there but cannot
  // be read gets one line and the defaults.
  SimulatedDevice env({{"/"}});
  ASSERT_TRUE(env.addFile("/etc/conf", "flagged 1\n") && env.addDirectories("/flash"));
  env.failAt(EnvCall::OpenRead, 1, EACCES);
  std::string said[3];
  EXPECT_FALSE(loadSystemSettings(env, "/etc/conf", said[0]).flagged ||
               loadSystemSettings(env, "/none", said[1]).flagged || loadSystemSettings(env, "/flash", said[2]).flagged);
  EXPECT_EQ(
      said[0] + said[1] + said[2],
      "/etc/conf: cannot be read, using the default settings\n/flash: cannot be read, using the default settings\n");
}

}  // namespace
}  // namespace installer
