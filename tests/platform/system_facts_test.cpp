// The facts the installer asks of the system library, answered by its
// stand-in from the settings and the Env it was opened with.
#include "platform/system_facts.h"

#include <gtest/gtest.h>

#include "platform/system_library.h"
#include "support/simulated_device.h"

namespace installer {
namespace {

// A system package is allowed with its version and build time both in one
// safe range, with no range, or with the any-system flag. Only a regular file
// has contents to give. The stand-in is process-wide: the test leaves defaults.
TEST(SystemFacts, AnswerFromWhatTheLibraryWasOpenedWith) {
  SimulatedDevice root({{"/"}});
  ASSERT_TRUE(root.addFile("/big", std::string(9999, 'x') + "z"));  // more than one read's worth
  ASSERT_TRUE(root.addSpecial("/fifo"));
  openSystemLibrary(root, {true, false, {{10, 20, 100, 200, 0}, {30, 30, 0, 0, 0}}, 0x07016600});
  EXPECT_TRUE(routerInFlaggedState());
  EXPECT_EQ(minimumSystemVersion(), 0x07016600u);
  EXPECT_EQ(tq::readFile("/big", 3, 9998), "xz");
  EXPECT_EQ(readDeviceFile("/big"), std::string(9999, 'x') + "z");
  EXPECT_EQ(readDeviceFile("/fifo"), "") << "a FIFO is not read";
  struct Case {
    uint32_t version;
    uint32_t buildTime;
    bool allowed;
  };
  const Case cases[] = {{20, 200, true}, {9, 150, false},  {21, 150, false},
                        {15, 99, false}, {15, 201, false}, {30, 0, true}};
  for (auto [version, buildTime, allowed] : cases)
    EXPECT_EQ(deviceModeAllowsSystem(version, buildTime), allowed) << version << "/" << buildTime;
  openSystemLibrary(root, {false, true, {{10, 20, 100, 200, 0}}});
  EXPECT_TRUE(deviceModeAllowsSystem(9, 150)) << "any system package";
  openSystemLibrary(Env::posix(), SystemSettings());
  EXPECT_FALSE(routerInFlaggedState());
  EXPECT_TRUE(deviceModeAllowsSystem(9, 150));
}

}  // namespace
}  // namespace installer
