// The manifest: exact bytes written, entries read back, malformed files.
#include "staging/manifest.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "support/temp_root.h"

namespace {

struct Entry {
  std::string path;
  StagedKind kind;
  std::string target;
  bool operator==(const Entry& other) const {
    return path == other.path && kind == other.kind && target == other.target;
  }
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
  return out << "{" << entry.path << " " << static_cast<uint32_t>(entry.kind) << " " << entry.target << "}";
}

std::vector<Entry> entriesOf(const StagedFiles& staged) {
  std::vector<Entry> out;
  for (const auto& entry : staged.entries) out.push_back({entry.first, entry.second.kind, entry.second.target});
  return out;
}

std::vector<std::string> namesIn(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

class Manifest : public testing::Test {
 protected:
  TempRoot root;
  std::string path = root.at("/ram/MANIFEST");

  void SetUp() override { root.makeDirs("/ram"); }

  // Reads `text` as a manifest into `staged`; returns the result.
  bool readText(const std::string& text, StagedFiles& staged) {
    root.writeFile("/ram/MANIFEST", text);
    return readManifest(staged, path);
  }
};

// --- Writing -----------------------------------------------------------------

TEST_F(Manifest, WritesOneLinePerEntryInPathOrder) {
  StagedFiles staged;
  stageRecord(staged, "/flash/var/pdb/pkg/image", StagedKind::Move, "/flash/var/pdb/image");
  stageRecord(staged, "/flash/var/pdb/pkg/", StagedKind::Delete, "");
  stageRecord(staged, "/flash/bin/x", StagedKind::Write, "/ram/tmpAbC123");
  stageRecord(staged, "/flash/lib/link", StagedKind::Symlink, "libx.so.1");
  stageRecord(staged, "/flash/lib/copied", StagedKind::Copy, "/ram/tmpXyZ987");
  ASSERT_TRUE(writeManifest(staged, path));
  EXPECT_EQ(root.readFile("/ram/MANIFEST"),
            "M /flash/bin/x /ram/tmpAbC123\n"
            "L /flash/lib/link libx.so.1\n"
            "U /flash/var/pdb/pkg/\n"
            "M /flash/var/pdb/pkg/image /flash/var/pdb/image\n");
}

// The whole file is replaced (an empty set gives an empty file), with mode
// 0644, and no temporary file is left beside it.
TEST_F(Manifest, ReplacesWholeFileWithMode0644AndLeavesNoTemporaryFile) {
  root.writeFile("/ram/MANIFEST", std::string(5000, 'x'), 0600);
  StagedFiles staged;
  ASSERT_TRUE(writeManifest(staged, path));
  EXPECT_EQ(root.readFile("/ram/MANIFEST"), "");
  stageRecord(staged, "/a", StagedKind::Delete, "");
  ASSERT_TRUE(writeManifest(staged, path));
  EXPECT_EQ(root.readFile("/ram/MANIFEST"), "U /a\n");
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(namesIn(root.at("/ram")), std::vector<std::string>{"MANIFEST"});
}

TEST_F(Manifest, FailedWriteReportsFalseAndLeavesNoTemporaryFile) {
  root.makeDirs("/ram/MANIFEST/busy");  // a directory cannot be replaced by a file
  StagedFiles staged;
  stageRecord(staged, "/a", StagedKind::Delete, "");
  EXPECT_FALSE(writeManifest(staged, path));
  EXPECT_EQ(namesIn(root.at("/ram")), std::vector<std::string>{"MANIFEST"});
  EXPECT_FALSE(writeManifest(staged, root.at("/missing/dir/MANIFEST")));
}

// --- Escaping ------------------------------------------------------------------

// Blanks, controls, delete and backslash are escaped; a path that already
// looks like an escape keeps its backslash escaped. Both read back as written.
TEST_F(Manifest, EscapedFieldsRoundTrip) {
  struct Case {
    std::string path, target, line;
    StagedKind kind;
  } cases[] = {
      {std::string("/flash/a b\nc\\d\x7f" "e\tf\x01g\xc3\xa9h"), "/ram/with space",
       "M /flash/a\\040b\\012c\\134d\\177e\\011f\\001g\xc3\xa9h /ram/with\\040space\n", StagedKind::Move},
      {"/flash/\\040", "\\\\", "L /flash/\\134040 \\134\\134\n", StagedKind::Symlink},
  };
  for (const Case& c : cases) {
    StagedFiles staged, back;
    stageRecord(staged, c.path, c.kind, c.target);
    ASSERT_TRUE(writeManifest(staged, path));
    EXPECT_EQ(root.readFile("/ram/MANIFEST"), c.line);
    ASSERT_TRUE(readManifest(back, path));
    EXPECT_EQ(entriesOf(back), (std::vector<Entry>{{c.path, c.kind, c.target}}));
  }
}

TEST(ManifestField, OtherBackslashesStayLiteral) {
  struct Case {
    const char* text;
    std::string field;
  };
  const Case cases[] = {
      {"\\040", " "},       {"a\\x", "a\\x"},       {"\\12", "\\12"},   {"\\0128", "\n8"},
      {"\\400", "\\400"},   {"\\8", "\\8"},         {"\\", "\\"},       {"\\\\040", "\\ "},
      {"\\000", std::string(1, '\0')}, {"\\377", "\xff"}, {"plain", "plain"},
  };
  for (const Case& c : cases) EXPECT_EQ(unescapeManifestField(c.text), c.field) << c.text;
}

// --- Reading -------------------------------------------------------------------

// Each text read into an empty set (after "U /first\n" where the case says
// so): the result and the entries kept.
TEST_F(Manifest, ReadingTable) {
  using D = std::vector<Entry>;
  const Entry first{"/first", StagedKind::Delete, ""};
  struct Case {
    std::string text;
    bool ok;
    D entries;
  } cases[] = {
      // Every kind; writes come back as moves.
      {"U /flash/old\nL /flash/link text\nM /flash/new /ram/tmp123456\n", true,
       {{"/flash/link", StagedKind::Symlink, "text"},
        {"/flash/new", StagedKind::Move, "/ram/tmp123456"},
        {"/flash/old", StagedKind::Delete, ""}}},
      {"U /a\nU /b", true, {{"/a", StagedKind::Delete, ""}, {"/b", StagedKind::Delete, ""}}},  // no final line feed
      {"U /flash/x extra more\n", true, {{"/flash/x", StagedKind::Delete, ""}}},            // further fields ignored
      {"M   /flash/x    /ram/y  \n", true, {{"/flash/x", StagedKind::Move, "/ram/y"}}},       // repeated spaces
      {"X /a /b\nu /c\nUU /d\nMM /e /f\nU /g\n", true, {{"/g", StagedKind::Delete, ""}}},  // unknown kinds skipped
      {"", true, {}},
      {"\nU /a\n", true, {}},                                          // empty first line
      {"U /a\n\nU /b\nL /broken\n", true, {{"/a", StagedKind::Delete, ""}}},  // nothing after an empty line
      // Missing fields fail and keep what came before.
      {"U /first\nL /flash/link\nU /after\n", false, {first}},
      {"U /first\nM /flash/x\nU /after\n", false, {first}},
      {"U /first\nU\nU /after\n", false, {first}},
      {"U /first\nM\nU /after\n", false, {first}},
      {"U /first\n   \nU /after\n", false, {first}},
      {"U /first\nU \nU /after\n", false, {first}},
  };
  for (const Case& c : cases) {
    StagedFiles staged;
    EXPECT_EQ(readText(c.text, staged), c.ok) << c.text;
    EXPECT_EQ(entriesOf(staged), c.entries) << c.text;
  }
}

TEST_F(Manifest, MissingFileOrDirectoryFails) {
  StagedFiles staged;
  EXPECT_FALSE(readManifest(staged, root.at("/ram/none")));
  root.makeDirs("/ram/MANIFEST");
  EXPECT_FALSE(readManifest(staged, path));
  EXPECT_TRUE(staged.empty());
}

// A device reads as empty (or endless), a fifo would block: neither may pass
// as a manifest. A read that fails part way is no end of the file either.
TEST_F(Manifest, OnlyARegularFileThatReadsCleanlyIsAManifest) {
  ASSERT_EQ(symlink("/dev/null", path.c_str()), 0);
  StagedFiles staged;
  EXPECT_FALSE(readManifest(staged, path));
  struct stat info;
  if (stat("/proc/self/mem", &info) != 0) GTEST_SKIP() << "no /proc here to fail a read";
  // Reading this process's memory from address 0 fails with EIO.
  EXPECT_FALSE(readManifest(staged, "/proc/self/mem"));
  EXPECT_TRUE(staged.empty());
}

TEST_F(Manifest, ReadAddsToExistingEntries) {
  StagedFiles staged;
  stageRecord(staged, "/kept", StagedKind::Delete, "");
  ASSERT_TRUE(readText("M /kept /ram/x\nU /other\n", staged));
  EXPECT_EQ(entriesOf(staged), (std::vector<Entry>{{"/kept", StagedKind::Move, "/ram/x"},
                                                   {"/other", StagedKind::Delete, ""}}));
}

}  // namespace
