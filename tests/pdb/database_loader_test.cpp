// Loading the whole database: images, repository images, meta files,
// state files and schedules, in the directory's listing order.
#include "pdb/database_loader.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "package_builder.h"
#include "support/chroot_runner.h"
#include "support/package_records.h"
#include "support/temp_root.h"

namespace {

const std::string pdb = "/flash/var/pdb/";
const std::string repo = "/rw/pckg/.images/";
constexpr PackageVersion v713 = makeVersion(7, 1, 'f', 3);
constexpr PackageVersion v720 = makeVersion(7, 2, 'f', 0);

PackageRecipe packageRecipe(const std::string& name, PackageVersion version, uint32_t buildTime = 1700000000) {
  PackageRecipe spec;
  spec.name = name;
  spec.version = version;
  spec.buildTime = buildTime;
  spec.files = {FileEntry{"bin/" + name, 0100755, 0, "#!\n"}};
  return spec;
}

BundleRecipe bundleSpec() {
  BundleRecipe spec;
  spec.name = "platform";
  spec.version = v713;
  spec.buildTime = 1700000100;
  spec.note = "all in one";
  spec.members = std::vector<DependencyRef>{ref("system", v713, v713), ref("wifi", v713, v713)};
  spec.packages = {packageRecipe("system", v713), packageRecipe("wifi", v713)};
  spec.packages[1].deps = std::vector<DependencyRef>{ref("system", v713)};
  return spec;
}

// One line per record: name version buildTime flags, then bundle, pending
// and the relation lists; enough to compare whole load results.
std::string describe(const InstallerState& state) {
  std::string out;
  for (const auto& p : state.packages) {
    out += p->name + " " + std::to_string(p->version) + " " + std::to_string(p->buildTime);
    if (p->isBundle) out += " bundle";
    if (!p->bundle.name.empty()) {
      out += " in " + p->bundle.name + "@" + std::to_string(p->bundle.min) + "-" + std::to_string(p->bundle.max);
    }
    if (p->disabled) out += " disabled";
    if (p->byUser) out += " byUser";
    if (p->pending != PendingAction::None) out += std::string(" ") + pendingActionWord(p->pending);
    for (const DependencyRef& d : p->deps) out += " dep:" + d.name;
    for (const std::string& f : p->files) out += " file:" + f;
    if (!p->note.empty()) out += " note:" + p->note;
    out += "\n";
  }
  return out;
}

// Loads the database of `root` in a chroot and returns describe() of it,
// with the messages the load showed after a "--" line.
std::string load(const TempRoot& root) {
  runInChroot(root.path(), [] {
    InstallerState state;
    InstallerState::instance().messages.clear();
    loadDatabase(state, false, "i386");
    std::string text = describe(state) + "--\n";
    for (const std::string& message : state.messages) text += message + "\n";
    for (const std::string& message : InstallerState::instance().messages) text += message + "\n";
    FILE* out = std::fopen("/loaded", "w");
    ASSERT_NE(out, nullptr);
    std::fputs(text.c_str(), out);
    std::fclose(out);
  });
  return root.readFile("/loaded");
}

// The names in "/flash/var/pdb/" as readdir gives them, which is the order
// the database keeps.
std::vector<std::string> listing(const TempRoot& root) {
  std::vector<std::string> names;
  DIR* dir = opendir(root.at(pdb).c_str());
  while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  if (dir != nullptr) closedir(dir);
  return names;
}

TEST(DatabaseLoader, WholeLoads) {
  SKIP_UNLESS_ROOT();
  PackageRecipe noted = packageRecipe("system", v713);
  noted.note = "base";
  noted.deps = std::vector<DependencyRef>{ref("kernel")};
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::string expected;
  };
  const Case cases[] = {
      {"empty database loads nothing quietly", {{pdb + ".keep", ""}}, "--\n"},
      {"missing database warns",
       {{repo + "system", buildPackage(packageRecipe("system", v713))}},
       "--\nWARNING: could not open repo\n"},
      {"image wins over the meta files",
       {{pdb + "system/image", buildPackage(noted)},
        {pdb + "system/version", "1 1\n"},
        {pdb + "system/deps", "broken 1\n"},
        {pdb + "system/files", "bin/system\n"},
        {pdb + "system/disabled", "auto\n"}},
       "system 117532163 1700000000 disabled dep:kernel note:base\n--\n"},
      {"restores from meta files without image",
       {{pdb + "dhcp/version", "117532163 1700000000\n"},
        {pdb + "dhcp/deps", "system 117532163 0\n"},
        {pdb + "dhcp/files", "bin/dhcpd\n/etc/dhcp\n\n"},
        {pdb + "dhcp/enabled", "user\n"}},
       "dhcp 117532163 1700000000 byUser dep:system file:/bin/dhcpd file:/etc/dhcp\n--\n"},
      {"bundle image gives its members first, at the bundle's exact version",
       {{pdb + "platform/image", buildBundle(bundleSpec())}},
       "system 117532163 1700000000 in platform@117532163-117532163\n"
       "wifi 117532163 1700000000 in platform@117532163-117532163 dep:system\n"
       "platform 117532163 1700000100 bundle note:all in one\n--\n"},
      {"image in database and repository is loaded twice",
       {{pdb + "system/image", buildPackage(packageRecipe("system", v713))},
        {repo + "system", buildPackage(packageRecipe("system", v720, 5))}},
       "system 117532163 1700000000\nsystem 117597696 5\n--\n"},
      {"repository image serves a directory without image, not one without directory",
       {{pdb + "system/version", "1 1\n"},
        {repo + "system", buildPackage(packageRecipe("system", v720, 5))},
        {repo + "orphan", buildPackage(packageRecipe("orphan", v720, 5))}},
       "system 117597696 5\n--\n"},
      {"header name other than the directory gives two records",
       {{pdb + "old/image", buildPackage(packageRecipe("new", v720, 5))},
        {pdb + "old/version", "117532163 1\n"},
        {pdb + "old/files", "bin/old\n"},
        {pdb + "old/disabled", "user\n"},
        {"/ram/pdb/new/schedule", "disable\n"}},
       "new 117597696 5 byUser disable\nold 117532163 1 disabled byUser file:/bin/old\n--\n"},
      {"entries that are not package directories are ignored",
       {{pdb + "stray", "117532163 1\n"},
        {repo + "stray", buildPackage(packageRecipe("stray", v713))},
        {pdb + ".hidden/version", "1 1\n"},
        {repo + ".hidden", buildPackage(packageRecipe("hidden", v713))},
        {pdb + "real/version", "1 2\n"},
        {pdb + "real/files", ""}},
       "real 1 2\n--\n"},
  };
  for (const Case& c : cases) {
    TempRoot root;
    for (const auto& file : c.files) root.writeFile(file.first, file.second);
    EXPECT_EQ(load(root), c.expected) << c.what;
  }
}

TEST(DatabaseLoader, UnreadableImageIsRestoredFromMetaFiles) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  root.writeFile(pdb + "dhcp/image", "not a package at all");
  root.writeFile(pdb + "dhcp/version", "5 6\n");
  root.writeFile(pdb + "dhcp/files", "bin/dhcpd\n");
  root.writeFile(pdb + "empty/image", "");
  std::string loaded = load(root);
  EXPECT_NE(loaded.find("dhcp 5 6 file:/bin/dhcpd\n"), std::string::npos) << loaded;
  EXPECT_NE(loaded.find("empty 0 0 bundle uninstall\n"), std::string::npos) << loaded;
  EXPECT_EQ(std::count(loaded.begin(), loaded.end(), '\n'), 3) << loaded;
}

TEST(DatabaseLoader, TruncatedBundleImageStopsAtTheBrokenMember) {
  SKIP_UNLESS_ROOT();
  std::string bytes = buildBundle(bundleSpec());
  size_t second = bytes.find(encodeHeaderRecord("wifi", v713, 1700000000, std::nullopt));
  ASSERT_NE(second, std::string::npos);
  TempRoot root;
  root.writeFile(pdb + "platform/image", bytes.substr(0, second + 10));
  EXPECT_EQ(load(root),
            "system 117532163 1700000000 in platform@117532163-117532163\n"
            "platform 117532163 1700000100 bundle note:all in one\n"
            "--\n");

  // Cut inside the bundle's own header: a bare record, restored from meta
  // files (none here, so it is to be uninstalled).
  size_t own = bytes.find(encodeHeaderRecord("platform", v713, 1700000100, std::nullopt));
  ASSERT_NE(own, std::string::npos);
  root.writeFile(pdb + "platform/image", bytes.substr(0, own + 4));
  EXPECT_EQ(load(root), "platform 0 0 bundle uninstall\n--\n");
}

TEST(DatabaseLoader, MemberCutShortInsideItsNoteEndsTheMembers) {
  SKIP_UNLESS_ROOT();
  BundleRecipe spec = bundleSpec();
  spec.packages[0].note = "a note that is cut";
  std::string bytes = buildBundle(spec);
  size_t note = bytes.find("a note that is cut");
  ASSERT_NE(note, std::string::npos);
  TempRoot root;
  root.writeFile(pdb + "platform/image", bytes.substr(0, note + 6));
  std::string loaded = load(root);
  EXPECT_EQ(loaded.rfind("system 117532163 1700000000 in platform@117532163-117532163", 0), 0u) << loaded;
  EXPECT_NE(loaded.find("\nplatform 117532163 1700000100 bundle note:all in one\n--\n"), std::string::npos) << loaded;
  EXPECT_EQ(std::count(loaded.begin(), loaded.end(), '\n'), 3) << loaded;
}

TEST(DatabaseLoader, KeepsTheDirectoryListingOrder) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  const char* names[] = {"m", "zeta", "a", "q-1", "b", "k", "alpha", "x9", "c", "n"};
  for (const char* name : names) {
    root.writeFile(pdb + name + "/version", "1 1\n");
    root.writeFile(pdb + name + "/files", "");
  }
  // Images first, in listing order; then the restored ones.
  root.writeFile(pdb + "k/image", buildPackage(packageRecipe("k", 2)));
  root.writeFile(pdb + "c/image", buildPackage(packageRecipe("c", 2)));
  std::string imageLines, restoredLines;
  for (const std::string& name : listing(root)) {
    if (name == "k" || name == "c") {
      imageLines += name + " 2 1700000000\n";
    } else {
      restoredLines += name + " 1 1\n";
    }
  }
  EXPECT_EQ(load(root), imageLines + restoredLines + "--\n");
}

TEST(DatabaseLoader, QuietAndArchitectureAreStored) {
  SKIP_UNLESS_ROOT();
  TempRoot root;
  runInChroot(root.path(), [] {
    InstallerState state;
    loadDatabase(state, true, "arm64");
    EXPECT_TRUE(state.quiet);
    EXPECT_EQ(state.architecture, "arm64");
    EXPECT_TRUE(state.messages.empty()) << "quiet: the warning is neither shown nor kept";
  });
}

}  // namespace
