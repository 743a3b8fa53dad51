#include "platform/system_settings.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>

#include "platform/system_library.h"
#include "support/process_runner.h"
#include "support/temp_root.h"

namespace {

// Parses `text` as the file "conf"; returns the diagnostics.
std::string parse(const std::string& text, SystemSettings& settings) {
  std::istringstream input(text);
  std::ostringstream diagnostics;
  parseSystemSettings(input, "conf", settings, diagnostics);
  return diagnostics.str();
}

TEST(SystemSettings, ReadsEveryKeyWithCommentsAndHex) {
  SystemSettings settings;
  std::string diagnostics = parse(
      "# device facts\n"
      "flagged 1\n"
      "\n"
      "   device-mode-any-system\t1   # trailing comment\n"
      "safe-package 0x07016600 0x0701FFFF 10 20 0\n"
      "safe-package 1 2 3 4 0xFFFFFFFF\n"
      "min-system-version 0x06280000\n"
      "processor-version 0x80211014\n"
      "flash-ioctl-result -2147483648\n",
      settings);
  EXPECT_EQ(diagnostics, "");
  EXPECT_TRUE(settings.flagged);
  EXPECT_TRUE(settings.deviceModeAnySystem);
  ASSERT_EQ(settings.safePackages.size(), 2u);
  EXPECT_EQ(settings.safePackages[0].minVersion, 0x07016600u);
  EXPECT_EQ(settings.safePackages[0].maxVersion, 0x0701FFFFu);
  EXPECT_EQ(settings.safePackages[0].minBuildTime, 10u);
  EXPECT_EQ(settings.safePackages[0].maxBuildTime, 20u);
  EXPECT_EQ(settings.safePackages[1].extra, 0xFFFFFFFFu);
  EXPECT_EQ(settings.minSystemVersion, 0x06280000u);
  EXPECT_TRUE(settings.hasProcessorVersion);
  EXPECT_EQ(settings.processorVersion, 0x80211014u);
  EXPECT_TRUE(settings.hasFlashIoctlResult);
  EXPECT_EQ(settings.flashIoctlResult, INT32_MIN);
}

TEST(SystemSettings, BadLinesAreNamedByLineAndIgnored) {
  SystemSettings settings;
  std::string diagnostics = parse(
      "flagged 2\n"
      "flagged 1\n"
      "Flagged 0\n"
      "min-system-version 010\n"
      "min-system-version\n"
      "min-system-version 5 6\n"
      "safe-package 1 2 3 4\n"
      "safe-package 1 2 3 4 5 6\n"
      "processor-version -1\n"
      "processor-version 0x100000000\n"
      "flash-ioctl-result 2147483648\n"
      "flash-ioctl-result -2147483649\n"
      "flash-ioctl-result +3\n"
      "flash-ioctl-result 0x\n"
      "device-mode-any-system yes\n"
      "min-system-version 7\n",
      settings);
  EXPECT_EQ(diagnostics,
            "conf:1: malformed value for \"flagged\", line ignored\n"
            "conf:3: unknown setting \"Flagged\", line ignored\n"
            "conf:5: malformed value for \"min-system-version\", line ignored\n"
            "conf:6: malformed value for \"min-system-version\", line ignored\n"
            "conf:7: malformed value for \"safe-package\", line ignored\n"
            "conf:8: malformed value for \"safe-package\", line ignored\n"
            "conf:9: malformed value for \"processor-version\", line ignored\n"
            "conf:10: malformed value for \"processor-version\", line ignored\n"
            "conf:11: malformed value for \"flash-ioctl-result\", line ignored\n"
            "conf:12: malformed value for \"flash-ioctl-result\", line ignored\n"
            "conf:13: malformed value for \"flash-ioctl-result\", line ignored\n"
            "conf:14: malformed value for \"flash-ioctl-result\", line ignored\n"
            "conf:15: malformed value for \"device-mode-any-system\", line ignored\n");
  EXPECT_TRUE(settings.flagged);
  EXPECT_FALSE(settings.deviceModeAnySystem);
  EXPECT_TRUE(settings.safePackages.empty());
  EXPECT_FALSE(settings.hasProcessorVersion);
  EXPECT_FALSE(settings.hasFlashIoctlResult);
  EXPECT_EQ(settings.minSystemVersion, 7u);
}

TEST(SystemSettings, LeadingZeroIsDecimal) {
  SystemSettings settings;
  EXPECT_EQ(parse("min-system-version 010\nflash-ioctl-result -0x10\n", settings), "");
  EXPECT_EQ(settings.minSystemVersion, 10u);
  EXPECT_EQ(settings.flashIoctlResult, -16);
}

// Problems with the settings file go to standard error once; a missing file
// means the defaults, silently. The run itself goes on either way.
TEST(SystemSettingsFile, ProblemsAreReportedOnceAndMissingFileIsSilent) {
  TempRoot root;
  root.writeFile("/system.conf", "flagged 1\nwhatever 3\n");
  root.makeDirs("/conf.d");
  const std::pair<std::string, std::string> cases[] = {
      {root.at("/system.conf"), root.at("/system.conf") + ":2: unknown setting \"whatever\", line ignored\n"},
      {"/nonexistent/dir/system.conf", ""},
      {root.at("/conf.d"), root.at("/conf.d") + ": cannot be read, using the default settings\n"},
  };
  for (const auto& c : cases) {
    ProcessResult result = runInstaller({"--bogus"}, "", {{"INSTALLER_SYSTEM_CONF", c.first}});
    EXPECT_EQ(result.exitStatus, 0) << c.first;
    EXPECT_EQ(result.out, "usage: installer [-q] [-r <root>] [-]\n") << c.first;
    EXPECT_EQ(result.err, c.second) << c.first;
  }
}

// The library operations read the process's settings; each test puts back
// what it changed.
class SystemLibrary : public testing::Test {
 protected:
  void SetUp() override { saved = systemSettings(); }
  void TearDown() override { systemSettings() = saved; }
  SystemSettings saved;
};

TEST_F(SystemLibrary, DeviceModeMessageCarriesTheSettings) {
  systemSettings().deviceModeAnySystem = true;
  systemSettings().safePackages = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
  tq::message settings = tq::KalmarisMode::loadMsg(nullptr);
  tq::KalmarisModeValue mode;
  EXPECT_FALSE(mode.allowsAnySystemPackage());  // nothing assigned yet
  mode.assign(tq::message(settings.get<tq::message_id>(1)));
  EXPECT_TRUE(mode.allowsAnySystemPackage());
  tq::KalmarisModeValue other;
  other.assign(tq::message(settings.get<tq::message_id>(2)));  // another field says nothing
  EXPECT_FALSE(other.allowsAnySystemPackage());

  tq::SafePkgs safe(settings);
  ASSERT_EQ(safe.entries.size(), 2u);
  EXPECT_EQ(safe.entries[1], (std::array<uint32_t, 5>{6, 7, 8, 9, 10}));

  systemSettings().deviceModeAnySystem = false;
  tq::KalmarisModeValue off;
  off.assign(tq::message(tq::KalmarisMode::loadMsg(nullptr).get<tq::message_id>(1)));
  EXPECT_FALSE(off.allowsAnySystemPackage());
}

TEST_F(SystemLibrary, FlaggedStateAndMinimumVersion) {
  systemSettings().flagged = true;
  systemSettings().minSystemVersion = 0x07016600;
  EXPECT_EQ(tq::kalmarisMode()->bytes[1], 1);
  EXPECT_EQ(getMinKalmarisVersion(), 0x07016600u);
  systemSettings().flagged = false;
  EXPECT_EQ(tq::kalmarisMode()->bytes[1], 0);
}

TEST(SystemLibraryFiles, ReadFileWholeOrPart) {
  TempRoot root;
  std::string big(10000, 'x');
  big[9999] = 'z';
  root.writeFile("/big", big);
  root.writeFile("/small", "abcdef");
  EXPECT_EQ(tq::readFile(root.at("/big"), 0xFFFFFFFF, 0), big);
  EXPECT_EQ(tq::readFile(root.at("/small"), 0xFFFFFFFF, 0), "abcdef");
  EXPECT_EQ(tq::readFile(root.at("/small"), 3, 2), "cde");
  EXPECT_EQ(tq::readFile(root.at("/small"), 0xFFFFFFFF, 10), "");
  EXPECT_EQ(tq::readFile(root.at("/missing"), 0xFFFFFFFF, 0), "");
  EXPECT_EQ(tq::readFile(root.path(), 0xFFFFFFFF, 0), "");  // a directory
  EXPECT_EQ(tq::readFile("/dev/zero", 16, 0), "");          // a device: no contents, however long it reads
}

TEST(SystemLibraryFiles, Version2StringIsTheTextForm) {
  EXPECT_EQ(version2string(0x07016603), "7.1.3");
  EXPECT_EQ(version2string(0x06280105), "6.40_ab261");
}

}  // namespace
