// The staged file set: its entries, and the temporary files it owns.
#include "staging/staged_files.h"

#include <gtest/gtest.h>

#include "support/router_device.h"
#include "support/staging_env.h"

namespace installer {
namespace {

// A new entry replaces the old one; a replaced Write loses its temporary
// file, a replaced Move keeps its source. A removal is staged only where
// something is (stat follows links: a dangling one is nothing); elsewhere
// it drops the path's entry and temporary file. No temporary file is left.
TEST(StagedFiles, EntriesAndTheirTemporaryFiles) {
  auto device = routerDevice(4096, 1 << 20);
  ASSERT_TRUE(plant(*device, "/d/old=o /d/link>old /d/dangling>/nowhere"));
  StagedFiles staged(*device);
  for (const char* path : {"/d/a", "/d/a", "/d/new", "/d/old"}) ASSERT_TRUE(stageEmptyFile(staged, path).isOk());
  stageMove(staged, "/d/old", "/d/a");
  stageSymlink(staged, "text", "/d/a");
  stageSymlink(staged, "x", "/d/dangling");
  for (const char* path : {"/d/new", "/d/old", "/d/link", "/d/dangling"}) stageDelete(staged, path);
  EXPECT_EQ(entriesText(staged), "L /d/a text|U /d/link|U /d/old");
  EXPECT_EQ(device->tree("/d") + device->tree("/ram"), "/d/dangling -> /nowhere\n/d/link -> old\n/d/old 644 \"o\"\n");
}

// The temporary file goes beside the destination when its file system has
// room for the size hint and 64 KiB more, else to "/ram"; with no hint to
// "/ram", or "/tmp" where there is no "/ram". The mode is applied; 0 keeps
// the private 0600. Where no file can be made, nothing is staged. The set
// deletes its temporary files when destroyed or cancelled, unless released.
TEST(StagedFiles, TemporaryFiles) {
  enum End { Destroyed, Released, Cancelled };
  // clang-format off
  struct Case { bool ram; uint32_t hint, mode; uint64_t flashFree; const char* prefix; End end; } cases[] = {
      {true, 0, 0751, 1 << 30, "/ram/tmp", Released}, {false, 0, 0, 1 << 30, "/tmp/tmp", Destroyed},
      {true, 1, 0, 1 << 30, "/flash/tmp", Cancelled}, {true, 1000, 0640, 1000 + 65537, "/flash/tmp", Destroyed},
      {true, 1000, 0, 1000 + 65536, "/ram/tmp", Destroyed}, {false, 1000, 0, 0, "none", Destroyed}};
  // clang-format on
  for (const Case& c : cases) {
    std::vector<SimulatedDevice::Mount> mounts = {{"/"}, {"/flash", 1}};
    if (c.ram) mounts.push_back({"/ram"});
    SimulatedDevice env(mounts);
    ASSERT_TRUE(env.addDirectories("/tmp"));
    env.leaveFree("/flash", c.flashFree);
    auto staged = std::make_unique<StagedFiles>(env);
    FileStatus info{};
    std::unique_ptr<WritableFile> file;
    Status created = createStagedFile(*staged, "/flash/n/f", c.hint, c.mode, file);
    bool made = created.isOk();
    std::string name = made ? staged->find("/flash/n/f")->target : "noneXXXXXX";
    EXPECT_TRUE(made ? env.status(name, info).isOk() : created.is(Status::Kind::NotFound) && staged->empty()) << name;
    EXPECT_EQ(name.substr(0, name.size() - 6), c.prefix) << c.hint << " " << c.flashFree;
    EXPECT_EQ(info.mode & 07777, made ? (c.mode != 0 ? c.mode : 0600) : 0);
    if (c.end == Released) staged->release();
    if (c.end == Cancelled) cancelStaged(*staged);
    EXPECT_EQ(staged->size(), made && c.end != Cancelled ? 1u : 0u);
    staged.reset();
    EXPECT_EQ(env.has(name), c.end == Released);
  }
}

// A package's files (joined to "/flash"), its database directory and image
// are staged for removal; the boot image only when the package owns it and
// no other name links to it.
TEST(StagedFiles, PackageRemoval) {
  for (int boot = 0; boot < 3; ++boot) {  // owned, owned but linked twice, not owned
    auto device = routerDevice(4096, 1 << 20);
    ASSERT_TRUE(plant(*device, "/flash/bin/tool=x /flash/lib/lib.so=x /flash/var/pdb/pkg/image=x /flash/bootimage=x"));
    ASSERT_TRUE(boot != 1 || device->addHardLink("/flash/other", "/flash/bootimage"));
    StagedFiles staged(*device);
    InstalledPackage package("pkg");
    package.files = {"/bin/tool", "lib/lib.so", "/lib/missing"};
    package.headerFlags = boot == 2 ? 0 : OwnsBootImage;
    package.pending = PendingAction::Uninstall;
    stagePackageRemoval(staged, package);
    EXPECT_EQ(entriesText(staged), std::string("U /flash/bin/tool|") + (boot == 0 ? "U /flash/bootimage|" : "") +
                                       "U /flash/lib/lib.so|U /flash/var/pdb/pkg/|U /flash/var/pdb/pkg/image");
    EXPECT_TRUE(package.files.empty());
    EXPECT_EQ(package.pending, PendingAction::None);
  }
}

}  // namespace
}  // namespace installer
