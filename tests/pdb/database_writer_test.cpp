// The bytes the database writer stages, read back from the temporary files.
#include "pdb/database_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "model/installer_state.h"
#include "support/temp_root.h"
#include "support/package_records.h"

namespace {

constexpr PackageVersion version713 = makeVersion(7, 1, 'f', 3);  // 117532163

std::string fileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every staged entry below `dir`, one per line: "name write <bytes>" or
// "name delete", in path order.
std::string describeStaged(const StagedFiles& staged, const std::string& dir) {
  std::string out;
  for (const auto& entry : staged.entries) {
    EXPECT_EQ(entry.first.compare(0, dir.size(), dir), 0) << "staged outside the package: " << entry.first;
    out += entry.first.substr(dir.size());
    if (entry.second.kind == StagedKind::Write) {
      out += " write <" + fileContents(entry.second.target) + ">\n";
    } else if (entry.second.kind == StagedKind::Delete) {
      out += " delete\n";
    } else {
      out += " other\n";
    }
  }
  return out;
}

class DatabaseWriter : public ::testing::Test {
 protected:
  DatabaseWriter() : package("system") {
    package.dbPrefix = root.at("/flash/var/pdb/");
    package.version = version713;
    package.buildTime = 1700000000;
    root.makeDirs("/flash/var/pdb/system");
    InstallerState::instance().messages.clear();
  }
  ~DatabaseWriter() override { cancelStaged(staged); }

  std::string dir() const { return packageDir(package); }
  std::string described() const { return describeStaged(staged, dir()); }
  // Leaves a stale file from an earlier version in the package directory.
  void leave(const std::string& name) const { root.writeFile("/flash/var/pdb/system/" + name, "stale\n"); }

  TempRoot root;
  InstalledPackage package;
  StagedFiles staged;
};

TEST_F(DatabaseWriter, WritesEveryMetaFileByteExact) {
  package.deps = {ref("routing", version713, 0), ref("dhcp", 0, 7)};
  package.provides = {ref("ppp", 1, 2, -3), ref("wifi", 0, 0, 12)};
  package.conflicts = {ref("old-wifi", 0, 4294967295u)};
  package.files = {"/pckg/x/b", "/pckg/x", "/a", "/pckg/x/a", "y", "", "/"};  // "" and "/" name nothing

  ASSERT_TRUE(writePackageMeta(package, staged));
  EXPECT_EQ(described(),
            "conflicts write <old-wifi 0 4294967295\n>\n"
            "deps write <routing 117532163 0\ndhcp 0 7\n>\n"
            "files write <a\npckg/x\npckg/x/a\npckg/x/b\ny\n>\n"
            "provides write <ppp 1 2 -3\nwifi 0 0 12\n>\n"
            "version write <117532163 1700000000\n>\n");
  EXPECT_TRUE(InstallerState::instance().messages.empty());
}

TEST_F(DatabaseWriter, EmptyListsWriteOnlyDepsAndFilesAndRemoveStaleOnes) {
  for (const char* name : {"provides", "conflicts", "bundle", "disabled", "enabled"}) leave(name);
  ASSERT_TRUE(writePackageMeta(package, staged));
  EXPECT_EQ(described(),
            "bundle delete\n"
            "conflicts delete\n"
            "deps write <>\n"
            "disabled delete\n"
            "enabled delete\n"
            "files write <>\n"
            "provides delete\n"
            "version write <117532163 1700000000\n>\n");
}

TEST_F(DatabaseWriter, BundleMemberNamesItsBundleAndBundleHasNoFilesList) {
  package.bundle = ref("platform", version713, version713);
  package.files = {"/lib/a.so"};
  ASSERT_TRUE(writePackageMeta(package, staged));
  EXPECT_EQ(described(),
            "bundle write <platform\n>\n"
            "deps write <>\n"
            "files write <lib/a.so\n>\n"
            "version write <117532163 1700000000\n>\n");

  cancelStaged(staged);
  InstalledPackage bundle("system");
  bundle.dbPrefix = package.dbPrefix;
  bundle.isBundle = true;
  leave("files");  // a bundle's own "files" is left as it is
  ASSERT_TRUE(writePackageMeta(bundle, staged));
  EXPECT_EQ(described(),
            "deps write <>\n"
            "version write <0 0\n>\n");
}

TEST_F(DatabaseWriter, BootImageAndNoMetaFlagWriteOnlyStateFiles) {
  leave("enabled");
  package.bootImageFlag = true;
  package.disabled = true;
  ASSERT_TRUE(writePackageMeta(package, staged));
  EXPECT_EQ(described(), "disabled write <auto\n>\nenabled delete\n");

  cancelStaged(staged);
  package.bootImageFlag = false;
  package.headerFlags = NoMetaFiles | OwnsBootImage;
  package.disabled = false;
  package.byUser = true;
  leave("disabled");
  leave("provides");  // left alone: no meta files are touched at all
  ASSERT_TRUE(writePackageMeta(package, staged));
  EXPECT_EQ(described(), "disabled delete\nenabled write <user\n>\n");
}

TEST_F(DatabaseWriter, StateFilesFollowDisabledAndByUser) {
  struct Case {
    bool disabled;
    bool byUser;
    const char* expected;
  };
  const Case cases[] = {
      {true, false, "disabled write <auto\n>\nenabled delete\n"},
      {true, true, "disabled write <user\n>\nenabled delete\n"},
      {false, true, "disabled delete\nenabled write <user\n>\n"},
      {false, false, "disabled delete\nenabled delete\n"},
  };
  package.headerFlags = NoMetaFiles;
  for (const Case& c : cases) {
    leave("disabled");
    leave("enabled");
    package.disabled = c.disabled;
    package.byUser = c.byUser;
    ASSERT_TRUE(writePackageMeta(package, staged));
    EXPECT_EQ(described(), c.expected) << "disabled " << c.disabled << " byUser " << c.byUser;
    cancelStaged(staged);
  }
}

TEST_F(DatabaseWriter, MarkEnabledWritesStateAndClearsTheRecord) {
  leave("disabled");
  package.disabled = true;
  package.byUser = true;
  package.pending = PendingAction::Enable;
  EXPECT_TRUE(markEnabled(package, staged));
  EXPECT_EQ(described(), "disabled delete\nenabled write <user\n>\n");
  EXPECT_FALSE(package.disabled);
  EXPECT_EQ(package.pending, PendingAction::None);

  cancelStaged(staged);
  leave("enabled");
  package.byUser = false;
  EXPECT_TRUE(markEnabled(package, staged));
  EXPECT_EQ(described(), "disabled delete\nenabled delete\n");
}

TEST_F(DatabaseWriter, DisabledStateLeavesTheRecordToTheCaller) {
  leave("enabled");
  package.byUser = true;
  package.pending = PendingAction::Disable;
  EXPECT_TRUE(writeDisabledState(package, staged));
  EXPECT_EQ(described(), "disabled write <user\n>\nenabled delete\n");
  EXPECT_FALSE(package.disabled);
  EXPECT_EQ(package.pending, PendingAction::Disable);
}

TEST_F(DatabaseWriter, WriteRefListWithAndWithoutPriority) {
  std::vector<DependencyRef> list = {ref("a", 1, 2, -1), ref("b", 0, 0, 2147483647)};
  ASSERT_TRUE(writeRefList(staged, dir() + "provides", list, true));
  ASSERT_TRUE(writeRefList(staged, dir() + "conflicts", list, false));
  EXPECT_EQ(described(), "conflicts write <a 1 2\nb 0 0\n>\nprovides write <a 1 2 -1\nb 0 0 2147483647\n>\n");
}

// A regular file where the database directory should be: no temporary file
// can be made next to it.
class DatabaseWriterFailure : public DatabaseWriter {
 protected:
  DatabaseWriterFailure() {
    root.writeFile("/blocked", "");
    package.dbPrefix = root.at("/blocked/");
  }
  const std::vector<std::string>& messages() const { return InstallerState::instance().messages; }
};

TEST_F(DatabaseWriterFailure, MetaFileFailureIsReportedOnceAndStops) {
  EXPECT_FALSE(writePackageMeta(package, staged));
  EXPECT_EQ(messages(),
            std::vector<std::string>{
                "ERROR: installation of system-7.1.3 failed: could not create meta/version: Not a directory"});
  EXPECT_TRUE(staged.empty());
}

TEST_F(DatabaseWriterFailure, StateFileFailuresAreReportedAndTheRunGoesOn) {
  package.headerFlags = NoMetaFiles;
  package.disabled = true;
  EXPECT_TRUE(writePackageMeta(package, staged));
  EXPECT_FALSE(writeDisabledState(package, staged));
  package.byUser = true;
  package.pending = PendingAction::Enable;
  EXPECT_FALSE(markEnabled(package, staged));
  EXPECT_FALSE(package.disabled);
  EXPECT_EQ(package.pending, PendingAction::None);
  const std::string prefix = "ERROR: installation of system-7.1.3 failed: could not create ";
  EXPECT_EQ(messages(), (std::vector<std::string>{prefix + "meta/disabled: Not a directory",
                                                  prefix + "meta/disabled: Not a directory",
                                                  prefix + "meta/enabled: Not a directory"}));
}

TEST_F(DatabaseWriterFailure, RefListReportsNothing) {
  EXPECT_FALSE(writeRefList(staged, dir() + "deps", {ref("a", 0, 0)}, false));
  EXPECT_TRUE(messages().empty());
}

}  // namespace
