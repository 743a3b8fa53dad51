#include "model/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::string hide = "\x1b[?25l";
const std::string show = "\x1b[?25h";
const std::string wipe = "\r" + std::string(79, ' ') + "\r";

InstalledPackage makePackage(const std::string& name, PackageVersion version = 0x07016600) {
  InstalledPackage package(name);
  package.version = version;
  return package;
}

TEST(Messages, WarningWipesAndRedrawsTheProgressLine) {
  InstallerState state;
  state.statusLine = "installing x-7.1 [##   ]";
  CaptureStdout();
  warning(state, "skipping %s: %d", "y", 3);
  EXPECT_EQ(GetCapturedStdout(), wipe + "WARNING: skipping y: 3\n" + "installing x-7.1 [##   ]");
  EXPECT_EQ(state.statusLine, "installing x-7.1 [##   ]");
  EXPECT_EQ(state.messages, std::vector<std::string>{"WARNING: skipping y: 3"});
}

TEST(Messages, ErrorErasesTheProgressLineForGood) {
  InstallerState state;
  state.statusLine = "installing [#]";
  CaptureStdout();
  error(state, "no %s", "space");
  EXPECT_EQ(GetCapturedStdout(), hide + "\r" + std::string(14, ' ') + "\r" + show + "ERROR: no space\n");
  EXPECT_EQ(state.statusLine, "");
  EXPECT_EQ(state.messages, std::vector<std::string>{"ERROR: no space"});
}

TEST(Messages, InfoHasNoPrefixAndMessagesKeepTheirOrder) {
  InstallerState state;
  CaptureStdout();
  info(state, "installed %s", "dhcp-7.1");
  warning(state, "w");
  EXPECT_EQ(GetCapturedStdout(), "installed dhcp-7.1\nWARNING: w\n");
  EXPECT_EQ(state.messages, (std::vector<std::string>{"installed dhcp-7.1", "WARNING: w"}));
}

TEST(Messages, QuietShowsAndKeepsNothing) {
  InstallerState state;
  state.quiet = true;
  state.statusLine = "installing x [ ]";
  state.messages = {"earlier"};
  CaptureStdout();
  error(state, "bad");
  warning(state, "odd");
  info(state, "done");
  setStatusLine(state, "other");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(state.messages, std::vector<std::string>{"earlier"});
  EXPECT_EQ(state.statusLine, "installing x [ ]");
}

TEST(Messages, LongTextIsCutTo255CharactersBesidesThePrefix) {
  InstallerState state;
  std::string longText(300, 'a');
  CaptureStdout();
  error(state, "%s", longText.c_str());
  EXPECT_EQ(GetCapturedStdout(), "ERROR: " + std::string(255, 'a') + "\n");
  EXPECT_EQ(state.messages.at(0), "ERROR: " + std::string(255, 'a'));
}

TEST(StatusLine, WritesOnlyChangesAndBlanksWhatAShorterTextLeaves) {
  InstallerState state;
  CaptureStdout();
  setStatusLine(state, "abcdef");
  setStatusLine(state, "abcdef");
  setStatusLine(state, "xy");
  setStatusLine(state, "");
  EXPECT_EQ(GetCapturedStdout(), hide + "\rabcdef\r" + show + hide + "\rxy    \r" + show + hide + "\r  \r" + show);
  EXPECT_EQ(state.statusLine, "");
  EXPECT_TRUE(state.messages.empty());
}

TEST(ProgressLine, BarFillsWithPositionAndStaysWithinItsWidth) {
  InstalledPackage x = makePackage("x");
  const std::string head = "installing x-7.1 [";  // 18 characters: the bar is 58 wide
  struct Case {
    uint64_t position;
    uint32_t total;
    size_t filled;
  } cases[] = {
      {0, 100, 0},     {100, 100, 58}, {50, 100, 29},       {1, 3, 19}, {2, 3, 38},
      {500, 100, 58},  // a header that understates the size: clamped
      {0, 0, 0},       {7, 0, 0},      // a wrapped total: empty bar
      {UINT64_MAX, 0xFFFFFFFF, 58},    {0xFFFFFFFE, 0xFFFFFFFF, 57},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(progressLine(x, c.position, c.total), head + std::string(c.filled, '#') + std::string(58 - c.filled, ' ') + "]")
        << c.position << "/" << c.total;
  }
}

TEST(ProgressLine, TextOf76OrMoreLeavesNoRoomForTheBar) {
  // "installing " + name + "-7.1 [" is 76 characters with a 59-character name.
  EXPECT_EQ(progressLine(makePackage(std::string(59, 'n')), 10, 10), "installing " + std::string(59, 'n') + "-7.1 []");
  EXPECT_EQ(progressLine(makePackage(std::string(70, 'n')), 0, 10), "installing " + std::string(70, 'n') + "-7.1 []");
  EXPECT_EQ(progressLine(makePackage(std::string(58, 'n')), 10, 10), "installing " + std::string(58, 'n') + "-7.1 [#]");
}

TEST(ProgressLine, DisabledIsShownOnlyOutsideABundle) {
  InstalledPackage x = makePackage("x");
  x.disabled = true;
  std::string line = progressLine(x, 0, 1);
  EXPECT_EQ(line.substr(0, 30), "installing  (disabled) x-7.1 [");
  EXPECT_EQ(line.size(), 77u);
  x.bundle = {"platform", 0x07016601, 0x07016601, 0};
  EXPECT_EQ(progressLine(x, 1, 1), "installing platform-7.1.1 [" + std::string(49, '#') + "]");
}

// The functions below report through the singleton; each test leaves it as found.
class SingletonMessages : public testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    InstallerState& state = InstallerState::instance();
    state.statusLine.clear();
    state.messages.clear();
    state.quiet = false;
  }
  InstallerState& state = InstallerState::instance();
};

TEST_F(SingletonMessages, ShowInstallProgressDrawsOnlyChanges) {
  InstalledPackage x = makePackage("x");
  CaptureStdout();
  showInstallProgress(x, 0, 100);
  showInstallProgress(x, 1, 100);  // still no '#': nothing written
  showInstallProgress(x, 100, 100);
  std::string head = "installing x-7.1 [";
  EXPECT_EQ(GetCapturedStdout(), hide + "\r" + head + std::string(58, ' ') + "]\r" + show + hide + "\r" + head +
                                     std::string(58, '#') + "]\r" + show);
  EXPECT_EQ(state.statusLine, head + std::string(58, '#') + "]");
  EXPECT_TRUE(state.messages.empty());
}

TEST_F(SingletonMessages, InstallFailureWordingFollowsErrno) {
  InstalledPackage member = makePackage("wifi");
  member.bundle = {"platform", 0x07016601, 0x07016601, 0};
  struct Case {
    int code;
    std::string expected;
  } cases[] = {
      {ENOSPC, "ERROR: installation of platform-7.1.1 failed: disk is too small"},
      {EIO, "ERROR: installation of platform-7.1.1 failed: disk error"},
      {EACCES, std::string("ERROR: installation of platform-7.1.1 failed: could not create /bin/wifi: ") +
                   std::strerror(EACCES)},
      {0, std::string("ERROR: installation of platform-7.1.1 failed: could not create /bin/wifi: ") + std::strerror(0)},
  };
  for (const Case& c : cases) {
    state.messages.clear();
    CaptureStdout();
    errno = c.code;
    reportInstallFailure(member, "/bin/wifi");
    EXPECT_EQ(GetCapturedStdout(), c.expected + "\n");
    EXPECT_EQ(state.messages, std::vector<std::string>{c.expected});
  }
}

TEST_F(SingletonMessages, BrokenPackageErasesTheProgressLine) {
  state.statusLine = "installing x-7.1 [#]";
  CaptureStdout();
  reportBrokenPackage(makePackage("x"));
  EXPECT_EQ(GetCapturedStdout(),
            hide + "\r" + std::string(20, ' ') + "\r" + show + "ERROR: installation of x-7.1 failed: broken package\n");
  EXPECT_EQ(state.statusLine, "");
}

}  // namespace
