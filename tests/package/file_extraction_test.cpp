#include "package/file_extraction.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>

#include "package/package_header.h"
#include "model/installer_state.h"
#include "package_builder.h"
#include "platform/system_settings.h"
#include "support/chroot_runner.h"
#include "support/temp_root.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::string broken = "ERROR: installation of foo-1.2 failed: broken package";

std::string contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Restores the process's settings after a test changed them.
class SettingsOverride {
 public:
  SettingsOverride() : saved(systemSettings()) {}
  ~SettingsOverride() { systemSettings() = saved; }
  void processor(uint32_t pvr, bool flashOpens = false, int32_t ioctlResult = 0) {
    systemSettings().hasProcessorVersion = true;
    systemSettings().processorVersion = pvr;
    systemSettings().hasFlashIoctlResult = flashOpens;
    systemSettings().flashIoctlResult = ioctlResult;
  }
  void noProcessor() { systemSettings().hasProcessorVersion = false; }

 private:
  SystemSettings saved;
};

// Extracts into a throw-away root given as the package's dbPrefix, so no
// fixed device path is touched.
class Extraction {
 public:
  Extraction() {
    package.version = 0x01020000;
    package.dbPrefix = root.path();
    InstallerState::instance().messages.clear();
    InstallerState::instance().statusLine.clear();
  }
  ~Extraction() {
    cancelStaged(staged);
    InstallerState::instance().statusLine.clear();
  }

  bool run(const std::string& payload) {
    PackageWriter writer;
    writer.addPart(Files, payload);
    writer.addPart(Signature, "");
    std::istringstream input(writer.bytes());
    PackageStream stream(input, true, nullptr);
    stream.wantedTypes = {Files, Signature};
    EXPECT_EQ(stream.nextPart(), 4);
    CaptureStdout();
    bool ok = extractFiles(package, staged, stream);
    output = GetCapturedStdout();
    EXPECT_EQ(stream.currentType, 4) << "left inside part 4";
    return ok;
  }
  bool run(const std::vector<FileEntry>& files) { return run(encodeFilesPayload(files)); }

  // Staged destination (below the root) -> contents of its temporary file.
  std::map<std::string, std::string> written() const {
    std::map<std::string, std::string> result;
    for (const auto& entry : staged.entries) {
      EXPECT_EQ(entry.first.compare(0, root.path().size() + 1, root.path() + "/"), 0) << entry.first;
      EXPECT_EQ(entry.second.kind, StagedKind::Write);
      result[entry.first.substr(root.path().size())] = contentsOf(entry.second.target);
    }
    return result;
  }
  std::vector<std::string> messages() const { return InstallerState::instance().messages; }

  TempRoot root;
  StagedFiles staged;
  InstalledPackage package{"foo"};
  std::string output;
};

FileEntry file(const std::string& name, const std::string& data, uint8_t variant = 0) {
  FileEntry entry;
  entry.name = name;
  entry.data = data;
  entry.variant = variant;
  return entry;
}

FileEntry special(const std::string& name, uint16_t mode, const std::string& data) {
  FileEntry entry = file(name, data);
  entry.mode = mode;
  return entry;
}

using Written = std::map<std::string, std::string>;
using Names = std::set<std::string>;

TEST(ExtractFiles, EmptyStreamInstallsNothing) {
  Extraction run;
  EXPECT_TRUE(run.run(std::vector<FileEntry>{}));
  EXPECT_TRUE(run.staged.empty());
  EXPECT_TRUE(run.package.files.empty());
  EXPECT_TRUE(run.messages().empty());
}

TEST(ExtractFiles, WritesRegularFilesAndRecordsPathsBelowTheRoot) {
  Extraction run;
  std::string big(40000, 'b');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>(i);
  ASSERT_TRUE(run.run({file("bin/x", "#!/bin/sh\n"), file("/etc/conf", "a=1\n"), file("empty", ""),
                       file("lib/big", big), file("./dot", "d"), file("a//b", "ab")}));
  EXPECT_EQ(run.written(), (Written{{"/bin/x", "#!/bin/sh\n"},
                                  {"/etc/conf", "a=1\n"},
                                  {"/empty", ""},
                                  {"/lib/big", big},
                                  {"/./dot", "d"},
                                  {"/a//b", "ab"}}));
  EXPECT_EQ(run.package.files, (Names{"/bin/x", "/etc/conf", "/empty", "/lib/big", "/./dot", "/a//b"}));
  EXPECT_TRUE(run.messages().empty());
  EXPECT_NE(run.output.find("installing foo-1.2 ["), std::string::npos) << "progress after each file";
}

TEST(ExtractFiles, ModeBitsReachTheFile) {
  Extraction run;
  FileEntry tool = file("bin/tool", "x");
  tool.mode = 0100750;
  ASSERT_TRUE(run.run({tool}));
  struct stat info;
  ASSERT_EQ(stat(run.staged.entries.begin()->second.target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
}

TEST(ExtractFiles, DirectoriesAndLinksAreSkippedWithTheirData) {
  Extraction run;
  ASSERT_TRUE(run.run({special("etc/", 0x41ED, "directory data"), special("lib/link", 0xA1FF, "target"),
                       special("dev/fifo", 0x11B6, ""), file("etc/after", "after")}));
  EXPECT_EQ(run.written(), (Written{{"/etc/after", "after"}}));
  EXPECT_EQ(run.package.files, (Names{"/etc/after"}));
}

TEST(ExtractFiles, DisabledPackageFilesLandUnderX) {
  Extraction run;
  run.package.disabled = true;
  ASSERT_TRUE(run.run({file("bin/x", "1"), file("/etc/y", "2")}));
  EXPECT_EQ(run.written(), (Written{{"/x/foo/bin/x", "1"}, {"/x/foo/etc/y", "2"}}));
  EXPECT_EQ(run.package.files, (Names{"/x/foo/bin/x", "/x/foo/etc/y"}));
}

TEST(ExtractFiles, PathRules) {
  InstalledPackage package("foo");
  EXPECT_EQ(extractedPath(package, "bin/x"), "/bin/x");
  EXPECT_EQ(extractedPath(package, "/bin/x"), "/bin/x");
  package.disabled = true;
  EXPECT_EQ(extractedPath(package, "bin/x"), "/x/foo/bin/x");
  EXPECT_EQ(extractedPath(package, "/bin/x"), "/x/foo/bin/x");
  EXPECT_EQ(extractionRoot(package), "/flash");
  package.dbPrefix = "/other/pdb/";
  EXPECT_EQ(extractionRoot(package), "/other/pdb/");
}

TEST(ExtractFiles, VariantRecordsFollowTheProcessor) {
  SettingsOverride settings;
  struct Case {
    uint32_t pvr;
    bool flashOpens;
    int32_t ioctlResult;
    std::string kept;
  } cases[] = {
      {0x13020000, false, 0, "/v3"},  {0x80830000, false, 0, "/v1"},  {0x80211010, true, 0x10, "/v2"},
      {0x80211010, true, 0x0F, "/v4"}, {0x80211010, false, 0x10, "/v4"},
  };
  for (const Case& c : cases) {
    settings.processor(c.pvr, c.flashOpens, c.ioctlResult);
    Extraction run;
    ASSERT_TRUE(run.run({file("v1", "1", 1), file("v2", "2", 2), file("v3", "3", 3), file("v4", "4", 4),
                         file("all", "*", 0)}));
    EXPECT_EQ(run.package.files, (Names{"/all", c.kept})) << std::hex << c.pvr;
  }
  settings.noProcessor();
  Extraction run;
  ASSERT_TRUE(run.run({file("v1", "1", 1), file("v3", "3", 3), file("all", "*", 0), file("v9", "9", 9)}));
  EXPECT_EQ(run.written(), (Written{{"/all", "*"}}));
}

TEST(ExtractFiles, NamesThatLeaveTheRootBreakThePackage) {
  SettingsOverride settings;
  settings.processor(0x13020000);
  const std::vector<FileEntry> bad[] = {
      {file("../../etc/x", "evil")},
      {file("bin/../../x", "evil")},
      {file("/..", "evil")},
      {special("../../etc/", 0x41ED, "")},
      {special("../../lib/link", 0xA1FF, "/")},
      {file("../../etc/x", "evil", 1)},  // not for this machine, still refused
      {file("ctl\nname", "x")},
      {file(std::string("nul\0name", 8), "x")},
      {file("del\x7f", "x")},
  };
  for (const std::vector<FileEntry>& records : bad) {
    Extraction run;
    std::vector<FileEntry> withGoodFirst = {file("ok", "fine")};
    withGoodFirst.insert(withGoodFirst.end(), records.begin(), records.end());
    withGoodFirst.push_back(file("never", "reached"));
    EXPECT_FALSE(run.run(withGoodFirst)) << records[0].name;
    EXPECT_EQ(run.messages(), std::vector<std::string>{broken}) << records[0].name;
    EXPECT_EQ(run.package.files, (Names{"/ok"})) << "what was staged before stays";
  }
  EXPECT_FALSE(TempRoot().exists("/etc/x"));
}

TEST(ExtractFiles, RegularFileNamesMustNameAFile) {
  const std::string bad[] = {"", "dir/", "/", "a/.", ".", "a/" + std::string(NAME_MAX + 1, 'n'),
                             std::string(PATH_MAX, 'p')};
  for (const std::string& name : bad) {
    Extraction run;
    EXPECT_FALSE(run.run({file(name, "x")})) << name.substr(0, 20);
    EXPECT_EQ(run.messages(), std::vector<std::string>{broken});
    EXPECT_TRUE(run.staged.empty());
  }
  Extraction run;
  ASSERT_TRUE(run.run({file("a/" + std::string(NAME_MAX, 'n'), "long but fine"), special("dir/", 0x41ED, "")}));
  EXPECT_EQ(run.package.files.size(), 1u);
}

TEST(ExtractFiles, NameThatCannotBeReadBreaksThePackage) {
  Extraction run;
  std::string record = encodeFileRecord(file("bin/complete-name", "data"));
  ASSERT_FALSE(run.run(deflateBytes(encodeFileRecord(file("first", "1")) + record.substr(0, 30 + 5))));
  EXPECT_EQ(run.messages(), std::vector<std::string>{broken});
  EXPECT_EQ(run.package.files, (Names{"/first"}));
}

TEST(ExtractFiles, DataThatCannotBeReadBreaksThePackage) {
  Extraction run;
  std::string record = encodeFileRecord(file("bin/x", std::string(20000, 'd')));
  ASSERT_FALSE(run.run(deflateBytes(record.substr(0, record.size() - 1))));
  EXPECT_EQ(run.messages(), std::vector<std::string>{broken});
  EXPECT_EQ(run.package.files, (Names{"/bin/x"})) << "the staged file stays recorded";
}

TEST(ExtractFiles, StreamEndingInsideARecordHeaderIsComplete) {
  Extraction run;
  std::string records = encodeFileRecord(file("a", "1")) + encodeFileRecord(file("b", "2"));
  ASSERT_TRUE(run.run(deflateBytes(records + std::string(12, '\x80'))));
  EXPECT_EQ(run.written(), (Written{{"/a", "1"}, {"/b", "2"}}));
  EXPECT_TRUE(run.messages().empty());
}

TEST(ExtractFiles, SkippedDataThatEndsEarlyEndsExtraction) {
  Extraction run;
  std::string records = encodeFileRecord(file("a", "1")) + encodeFileRecord(special("d/", 0x41ED, "12345"));
  ASSERT_TRUE(run.run(deflateBytes(records.substr(0, records.size() - 2))));
  EXPECT_EQ(run.written(), (Written{{"/a", "1"}}));
}

TEST(ExtractFiles, DamagedPackagesNeverCrashOrEscapeTheRoot) {
  SettingsOverride settings;
  settings.processor(0x13020000);
  PackageRecipe spec;
  spec.name = "foo";
  spec.files = {file("bin/a", "alpha"), special("etc/", 0x41ED, ""), file("lib/b", std::string(300, 'b'), 3),
                file("c", "")};
  PackageWriter writer;
  appendPackage(writer, spec, nullptr);
  std::string bytes = writer.bytes();
  TempRoot root;
  auto attempt = [&root](const std::string& input) {
    std::istringstream in(input);
    PackageStream stream(in, true, nullptr);
    stream.wantedTypes = {1, 16, 3, 19, 17, 21, 4, 9};
    stream.nextPart();
    InstalledPackage package;
    package.dbPrefix = root.path();
    StagedFiles staged;
    if (readPackageHeader(package, stream) && stream.currentType == 4) {
      (void)extractFiles(package, staged, stream);
    }
    for (const auto& entry : staged.entries) {
      EXPECT_EQ(entry.first.compare(0, root.path().size() + 1, root.path() + "/"), 0) << entry.first;
    }
    cancelStaged(staged);
  };
  CaptureStdout();
  for (size_t length = 0; length < bytes.size(); ++length) attempt(bytes.substr(0, length));
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::string flipped = bytes;
    flipped[i] = static_cast<char>(flipped[i] ^ (1 << (i % 8)));
    attempt(flipped);
  }
  GetCapturedStdout();
  InstallerState::instance().messages.clear();
  InstallerState::instance().statusLine.clear();
}

TEST(ExtractFilesOnDevice, WritesBelowFlash) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs("/flash/var/pdb");
  runInChroot(root.path(), [] {
    InstallerState::instance().messages.clear();
    StagedFiles staged;
    InstalledPackage package("foo");
    package.version = 0x01020000;
    PackageWriter writer;
    writer.addPart(Files, encodeFilesPayload({file("bin/x", "x!"), file("../etc/passwd", "evil")}));
    std::istringstream input(writer.bytes());
    PackageStream stream(input, true, nullptr);
    stream.wantedTypes = {Files};
    ASSERT_EQ(stream.nextPart(), 4);
    EXPECT_FALSE(extractFiles(package, staged, stream));
    ASSERT_EQ(staged.size(), 1u);
    EXPECT_EQ(staged.entries.begin()->first, "/flash/bin/x");
    EXPECT_EQ(contentsOf(staged.entries.begin()->second.target), "x!");
    EXPECT_EQ(package.files, (std::set<std::string>{"/bin/x"}));
    EXPECT_EQ(InstallerState::instance().messages, std::vector<std::string>{broken});
    cancelStaged(staged);
  });
  EXPECT_FALSE(root.exists("/etc/passwd"));
  EXPECT_FALSE(root.exists("/flash/etc/passwd"));
}

TEST(ExtractFilesOnDevice, TemporaryFileThatCannotBeMadeIsReported) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.makeDirs("/flash/var/pdb");
  ASSERT_EQ(rmdir(root.at("/tmp").c_str()), 0);  // no "/ram", no "/tmp": nowhere for an empty file
  runInChroot(root.path(), [] {
    InstallerState::instance().messages.clear();
    StagedFiles staged;
    InstalledPackage package("foo");
    package.version = 0x01020000;
    PackageWriter writer;
    writer.addPart(Files, encodeFilesPayload({file("bin/empty", "")}));
    std::istringstream input(writer.bytes());
    PackageStream stream(input, true, nullptr);
    stream.wantedTypes = {Files};
    ASSERT_EQ(stream.nextPart(), 4);
    EXPECT_FALSE(extractFiles(package, staged, stream));
    EXPECT_TRUE(staged.empty());
    EXPECT_TRUE(package.files.empty());
    EXPECT_EQ(InstallerState::instance().messages,
              std::vector<std::string>{
                  "ERROR: installation of foo-1.2 failed: could not create bin/empty: No such file or directory"});
  });
}

}  // namespace
