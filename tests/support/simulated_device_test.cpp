#include "support/simulated_device.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "support/call_outcome.h"

namespace installer {
namespace {

using Loss = SimulatedDevice::Loss;

class SimulatedDeviceTest : public testing::Test {
 protected:
  SimulatedDevice device{{{"/"}, {"/flash"}, {"/ram", 1024, 64, 0, true}}};

  bool write(const std::string& path, const std::string& data, bool sync) {
    std::unique_ptr<WritableFile> file;
    return device.openWritable(path, WriteMode::Truncate, 0644, file).isOk() &&
           file->append(data.data(), data.size()).isOk() && (!sync || file->sync().isOk());
  }
};

// Replacing a file by a rename: the rename survives a cut once the
// directory is synced after it, and not before.
TEST(SimulatedDevice, KeepsARenameOnlyOnceItsDirectoryIsSynced) {
  const char* const replaced = "/flash/a 644 \"new\"\n";
  const char* const untouched = "/flash/a 644 \"old\"\n/flash/a.new 644 \"new\"\n";
  const struct {
    bool syncDirectory;
    Loss loss;
    const char* after;
  } cases[] = {
      {false, Loss::NothingUnsynced, replaced},
      {false, Loss::EveryUnsyncedChange, untouched},
      {false, Loss::OneUnsyncedChange, untouched},
      {true, Loss::EveryUnsyncedChange, replaced},
  };
  for (const auto& c : cases) {
    SimulatedDevice device({{"/"}, {"/flash"}});
    ASSERT_TRUE(device.addFile("/flash/a", "old") && device.addFile("/flash/a.new", ""));
    std::unique_ptr<WritableFile> file;
    ASSERT_TRUE(device.openWritable("/flash/a.new", WriteMode::Existing, 0, file).isOk() &&
                file->append("new", 3).isOk() && file->sync().isOk() &&
                device.rename("/flash/a.new", "/flash/a").isOk());
    ASSERT_TRUE(!c.syncDirectory || device.syncPath("/flash").isOk());
    EXPECT_EQ(device.unsyncedChanges(), c.syncDirectory ? 0u : 1u);
    device.powerCut(c.loss);
    EXPECT_EQ(device.tree("/flash"), c.after) << c.syncDirectory << static_cast<int>(c.loss);
  }
}

// A file's fsync keeps its data and mode, not its name; a name kept without
// its data comes back empty.
TEST_F(SimulatedDeviceTest, LosesUnsyncedDataAndTheNamesOfUnsyncedDirectories) {
  ASSERT_TRUE(device.addFile("/flash/kept", "old", 0600) && device.addDirectories("/flash/d"));
  ASSERT_TRUE(write("/flash/d/synced", "data", true) && write("/flash/d/unsynced", "data", false));
  ASSERT_TRUE(write("/flash/kept", "new", false) && device.changeMode("/flash/kept", 0644).isOk());
  device.powerCut(Loss::NothingUnsynced);
  const std::string d = "/flash/d/ 755\n/flash/d/synced 644 \"data\"\n/flash/d/unsynced 644 \"\"\n";
  EXPECT_EQ(device.tree("/flash"), d + "/flash/kept 600 \"old\"\n");
  ASSERT_TRUE(write("/flash/d/created", "data", true) && write("/flash/kept", "new", true));
  device.powerCut(Loss::EveryUnsyncedChange);
  EXPECT_EQ(device.tree("/flash"), d + "/flash/kept 600 \"new\"\n");
}

// Four unsynced changes, each lost alone: the others stay, except those that
// could no longer be made without it.
TEST(SimulatedDevice, LosesOneUnsyncedChangeAloneAndWhatCannotFollowIt) {
  const char* const after[] = {
      "/flash/t 644 \"t\"\n",                                       // no x: t cannot move into it
      "/flash/x/ 755\n",                                            // no t to move
      "/flash/x/ 755\n/flash/x/t 644 \"t\"\n/flash/z 644 \"z\"\n",  // z back
      "/flash/t 644 \"t\"\n/flash/x/ 755\n",                        // t not moved
      "/flash/z 644 \"z\"\n",                                       // all four lost
  };
  for (size_t which = 0; which < 5; ++which) {
    SimulatedDevice device({{"/"}, {"/flash"}});
    ASSERT_TRUE(device.addFile("/flash/z", "z") && device.makeDirectory("/flash/x", 0755).isOk());
    std::unique_ptr<WritableFile> file;
    ASSERT_TRUE(device.openWritable("/flash/t", WriteMode::CreateNew, 0644, file).isOk() &&
                file->append("t", 1).isOk() && file->sync().isOk() && device.removeFile("/flash/z").isOk());
    ASSERT_TRUE(device.rename("/flash/t", "/flash/x/t").isOk() && device.unsyncedChanges() == 4);
    device.powerCut(which < 4 ? Loss::OneUnsyncedChange : Loss::EveryUnsyncedChange, which);
    EXPECT_EQ(device.tree("/flash"), after[which]) << which;
  }
}

// A change synced in a directory whose making was lost is lost with it; one
// in a directory whose removal is durable is as good as durable.
TEST_F(SimulatedDeviceTest, TiesChangesInADirectoryToItsOwnMakingAndRemoval) {
  ASSERT_TRUE(device.makeDirectory("/flash/d", 0755).isOk() && write("/flash/d/f", "f", true) &&
              device.syncPath("/flash/d").isOk());
  EXPECT_EQ(device.unsyncedChanges(), 1u);  // the mkdir: its parent was not synced
  device.powerCut(Loss::EveryUnsyncedChange);
  EXPECT_EQ(device.tree("/flash"), "");
  ASSERT_TRUE(device.addDirectories("/flash/a/b") && write("/flash/a/b/f", "", false) &&
              device.removeFile("/flash/a/b/f").isOk());
  ASSERT_TRUE(device.removeDirectory("/flash/a/b").isOk() && device.removeDirectory("/flash/a").isOk() &&
              device.syncPath("/flash").isOk());
  EXPECT_EQ(device.unsyncedChanges(), 0u);
}

TEST_F(SimulatedDeviceTest, EmptiesTheRamDiskAndKeepsEachMountApart) {
  ASSERT_TRUE(device.addFile("/ram/set-up", "x") && write("/ram/written", "y", true));
  EXPECT_EQ(device.unsyncedChanges(), 0u);  // lost anyway
  FileStatus ram, flash;
  ASSERT_TRUE(device.status("/ram/written", ram).isOk() && device.status("/flash", flash).isOk());
  EXPECT_NE(ram.device, flash.device);
  EXPECT_TRUE(device.rename("/ram/written", "/flash/written").is(Status::Kind::CrossDevice));
  EXPECT_EQ(device.removeDirectory("/ram").reason(), std::strerror(EBUSY));
  device.powerCut(Loss::NothingUnsynced);
  EXPECT_EQ(device.tree(), "/flash/ 755\n/ram/ 755\n");
}

// Four blocks of 1 KiB and three inodes; the root takes one of each.
TEST(SimulatedDevice, CountsBlocksAndInodesAndRefusesWhatDoesNotFit) {
  SimulatedDevice device({{"/", 4096, 100}, {"/small", 1024, 4, 3}});
  std::unique_ptr<WritableFile> file, other;
  FileStatus info;
  SpaceStatus space;
  CallOutcome outcome;
  auto seen = [&outcome](const Status& status) { return outcome.seen(status); };
  auto append = [&file, &seen](size_t n) { return seen(file->append(std::string(n, 'x').data(), n)); };
  const struct {
    std::function<bool()> call;
    int error;
    const char* freeBlocksAndInodes;
  } rows[] = {
      {[&] { return seen(device.openWritable("/small/a", WriteMode::CreateNew, 0600, file)); }, 0, "3 1"},
      {[&] { return append(2049); }, 0, "0 1"},
      {[&] { return append(1); }, 0, "0 1"},  // fills the third block
      {[&] { return append(1023); }, ENOSPC, "0 1"},
      {[&] { return seen(device.status("/small/a", info)) && info.size == 2050; }, 0, "0 1"},
      {[&] { return seen(device.makeDirectory("/small/d", 0755)); }, ENOSPC, "0 1"},
      {[&] { return seen(device.makeSymlink("a", "/small/l")); }, 0, "0 0"},
      {[&] { return seen(device.openWritable("/small/b", WriteMode::Truncate, 0644, other)); }, ENOSPC, "0 0"},
      {[&] { return seen(device.removeFile("/small/a")); }, 0, "3 1"},
      {[&] { return seen(device.makeDirectory("/small/d", 0755)); }, 0, "2 0"},
      {[&] { return seen(device.spaceStatus("/", space)) && space.freeBlocks == 98 && space.totalInodes == 0; }, 0,
       "2 0"},
  };
  int row = 0;
  for (const auto& r : rows) {
    outcome.reset();
    bool done = r.call();
    EXPECT_EQ(outcome.of(done), CallOutcome::expected(r.error)) << "row " << row;
    ASSERT_TRUE(device.spaceStatus("/small/.", space).isOk() && space.blockSize == 1024 && space.totalInodes == 3);
    EXPECT_EQ(std::to_string(space.freeBlocks) + " " + std::to_string(space.freeInodes), r.freeBlocksAndInodes)
        << "row " << row++;
  }
}

TEST_F(SimulatedDeviceTest, KeepsInodeNumbersThroughRenamesAndCutsAndNeverReusesThem) {
  FileStatus first, moved, cut, other;
  ASSERT_TRUE(write("/flash/a", "a", true) && device.status("/flash/a", first).isOk());
  ASSERT_TRUE(device.rename("/flash/a", "/flash/b").isOk() && device.status("/flash/b", moved).isOk());
  device.powerCut(Loss::NothingUnsynced);
  ASSERT_TRUE(device.status("/flash/b", cut).isOk() && device.removeFile("/flash/b").isOk() &&
              write("/flash/a", "", false));
  ASSERT_TRUE(device.status("/flash/a", other).isOk());
  EXPECT_EQ(moved.inode, first.inode);
  EXPECT_EQ(cut.inode, first.inode);
  EXPECT_NE(other.inode, first.inode);
}

TEST_F(SimulatedDeviceTest, StopsEveryChangeFromTheCrashPointOn) {
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(device.openWritable("/flash/a", WriteMode::Truncate, 0644, file).isOk());
  device.crashAt(3);
  ASSERT_TRUE(file->append("a", 1).isOk());
  EXPECT_TRUE(device.makeDirectory("/flash/d", 0755).is(Status::Kind::DiskError));
  EXPECT_FALSE(file->append("b", 1).isOk());
  EXPECT_FALSE(device.rename("/flash/a", "/flash/b").isOk());
  EXPECT_EQ(device.changes(), 5u);
  EXPECT_EQ(device.tree("/flash"), "/flash/a 644 \"a\"\n");
  device.revive();
  EXPECT_EQ(device.changes(), 0u);
  EXPECT_TRUE(file->append("c", 1).is(Status::Kind::DiskError));  // the killed run's file
  EXPECT_TRUE(device.makeDirectory("/flash/d", 0755).isOk());
  device.powerCut(Loss::NothingUnsynced);
  EXPECT_EQ(device.tree("/flash"), "/flash/a 644 \"\"\n/flash/d/ 755\n");
}

// Paths, modes, names and the tree's form.
TEST_F(SimulatedDeviceTest, AnswersAsTheSystemCalls) {
  std::string name, text;
  std::vector<std::string> names;
  FileStatus info;
  ReadLimits noLinks{false, false, UINT64_MAX}, short3{true, true, 3};
  WriteMode exclusive = WriteMode::CreateNew;
  std::unique_ptr<ReadableFile> in;
  std::unique_ptr<WritableFile> out;
  std::unique_ptr<FileLock> held, again;
  CallOutcome outcome;
  auto seen = [&outcome](const Status& status) { return outcome.seen(status); };
  const std::pair<std::function<bool()>, int> rows[] = {
      {[&] { return device.addSymlink("/flash/loop", "loop") && device.addSymlink("/flash/l", "d/f"); }, 0},
      {[&] { return device.addFile("/flash/d/f", std::string(100, 'f') + "\n"); }, 0},
      {[&] { return seen(device.status("/flash/loop/x", info)); }, ELOOP},
      {[&] { return seen(device.status("/flash/d/f/x", info)); }, ENOTDIR},
      {[&] { return seen(device.openReadable("/flash/l", noLinks, in)); }, ELOOP},
      {[&] { return seen(device.openReadable("/flash/d", short3, in)); }, EINVAL},
      {[&] { return seen(device.openReadable("/flash/l", short3, in)); }, EFBIG},
      {[&] { return seen(device.openWritable("/flash/loop", exclusive, 0777, out)); }, EEXIST},
      {[&] { return seen(device.openWritable("/flash/x", exclusive, 0777, out)); }, 0},
      {[&] { return seen(device.status("/flash/x", info)) && info.mode == 0100777; }, 0},
      {[&] { return write("/flash/y", "\"\t\001", false); }, 0},
      {[&] { return seen(device.status("/flash/y", info)) && info.mode == 0100644; }, 0},  // umask 022
      {[&] { return seen(device.createTemporary("/flash/d/t.", name, out)) && name.size() == 17; }, 0},
      {[&] { return seen(device.linkStatus(name, info)) && info.mode == 0100600; }, 0},
      {[&] {
         return seen(device.listDirectory("/flash/d", names)) && names == std::vector<std::string>{"f", name.substr(9)};
       },
       0},
      {[&] { return seen(device.readSymlink("/flash/d", text)); }, EINVAL},
      {[&] { return seen(device.removeDirectory("/flash/d")); }, ENOTEMPTY},
      {[&] { return seen(device.changeRoot("/flash/d")); }, 0},
      {[&] { return seen(device.status("/../f", info)) && device.has("/flash/x"); }, 0},
      {[&] { return seen(device.lockFile("/lock", held)); }, 0},
      {[&] { return seen(device.lockFile("/lock", again)); }, EWOULDBLOCK},  // the first still held
      {[&] { return held.reset(), seen(device.lockFile("/lock", again)) && device.read("/flash/d/lock", text); }, 0},
  };
  int row = 0;
  for (const auto& [call, error] : rows) {
    outcome.reset();
    bool done = call();
    EXPECT_EQ(outcome.of(done), CallOutcome::expected(error)) << "row " << row++;
  }
  std::string tree = "/flash/d/ 755\n/flash/d/f 644 <101 bytes sha256:d06037706d43db64>\n/flash/d/lock 600 \"\"\n";
  tree += name + " 600 \"\"\n/flash/l -> d/f\n/flash/loop -> loop\n/flash/x 777 \"\"\n";
  EXPECT_EQ(device.tree("/flash"), tree + "/flash/y 644 \"\\\"\\t\\001\"\n");
}

// Paths lead where the kernel's lead after chroot: absolute link targets
// start again at the root, relative ones at the link's directory, ".."
// stops at the root; the last component is followed where the call would
// follow it. Variables are the device's own, and a changed root leaves the
// old one out of reach.
TEST_F(SimulatedDeviceTest, ResolvesPathsAsTheKernelDoesAfterChroot) {
  ASSERT_TRUE(device.addFile("/a/b/file", "data") && device.addFile("/etc/passwd", "root") &&
              device.addSymlink("/a/rel", "b/file") && device.addSymlink("/a/b/abs", "/a") &&
              device.addSymlink("/a/up", "../../../etc") && device.addSymlink("/dangling", "/none"));
  std::string text, name;
  FileStatus info, link;
  std::unique_ptr<WritableFile> file;
  ASSERT_TRUE(device.status("/a/b/abs/rel", info).isOk());
  EXPECT_EQ(info.size, 4u) << "the file, by an absolute link and then a relative one";
  ASSERT_TRUE(device.readSymlink("a/b/abs", text).isOk()) << "a relative path starts at the root";
  EXPECT_EQ(text, "/a");
  ASSERT_TRUE(device.status("/a/up/passwd", info).isOk() && device.linkStatus("/a/rel", link).isOk());
  EXPECT_EQ(info.size, 4u) << "\"..\" stops at the root";
  EXPECT_EQ(link.size, 6u) << "the link itself";
  EXPECT_EQ(device.openWritable("/dangling", WriteMode::CreateNew, 0600, file).reason(), std::strerror(EEXIST));
  ASSERT_TRUE(device.openWritable("/dangling", WriteMode::Truncate, 0600, file).isOk());
  EXPECT_TRUE(device.has("/none")) << "made where the link leads";
  ASSERT_TRUE(device.createTemporary("/a/b/abs/t.", name, file).isOk());
  EXPECT_TRUE(device.has("/a/" + name.substr(9))) << name;
  device.setVariable("HOME", "/flash");
  EXPECT_EQ(device.variable("PATH"), nullptr) << "not the host's";
  EXPECT_STREQ(device.variable("HOME"), "/flash");
  EXPECT_TRUE(device.changeRoot("/missing").is(Status::Kind::NotFound));
  EXPECT_TRUE(device.changeRoot("/a/b/file").is(Status::Kind::NotDirectory));
  ASSERT_TRUE(device.changeRoot("/a/b/").isOk());
  EXPECT_TRUE(device.changeDirectory("/").isOk());
  EXPECT_FALSE(device.changeDirectory("/file").isOk()) << "a file is no directory";
  ASSERT_TRUE(device.status("/file", info).isOk());
  EXPECT_EQ(info.size, 4u) << "the new root's file";
  EXPECT_FALSE(device.status("/abs/b/file", info).isOk()) << "the old root is out of reach";
  EXPECT_FALSE(device.status("/../etc/passwd", info).isOk());
}

// What the tests plant beside plain files: a FIFO (refused to a reader of
// regular files; a read of it, which would block, fails the test), a
// second name of a file (its space kept while a name is left), a tree
// removed whole, and a mount left with a chosen number of free blocks. A
// write that fails names its file.
TEST_F(SimulatedDeviceTest, PlantsFifosHardLinksAndFreeSpace) {
  FileStatus info;
  SpaceStatus space;
  std::unique_ptr<ReadableFile> in;
  std::unique_ptr<WritableFile> out;
  ASSERT_TRUE(device.addSpecial("/flash/fifo") && device.addFile("/flash/d/a", "1234") &&
              device.addHardLink("/flash/d/b", "/flash/d/a"));
  EXPECT_FALSE(device.addHardLink("/ram/c", "/flash/d/a"));
  EXPECT_EQ(errno, EXDEV);
  ASSERT_TRUE(device.linkStatus("/flash/fifo", info).isOk());
  EXPECT_EQ(info.mode, 010644u);
  EXPECT_EQ(device.openReadable("/flash/fifo", ReadLimits{true, true, 100}, in).reason(), std::strerror(EINVAL));
  ASSERT_TRUE(device.openReadable("/flash/fifo", ReadLimits{true, false, 100}, in).isOk());
  char byte;
  size_t count;
  EXPECT_NONFATAL_FAILURE(static_cast<void>(in->read(&byte, 1, count)), "block for ever");
  ASSERT_TRUE(device.status("/flash/d/b", info).isOk());
  EXPECT_EQ(info.links, 2u);
  device.leaveFree("/flash", 10);
  ASSERT_TRUE(device.removeFile("/flash/d/a").isOk() && device.status("/flash/d/b", info).isOk());
  EXPECT_EQ(info.links, 1u);
  ASSERT_TRUE(device.spaceStatus("/flash", space).isOk());
  EXPECT_EQ(space.freeBlocks, 10u);  // "b" still holds the data
  ASSERT_TRUE(device.removeFile("/flash/d/b").isOk() && device.spaceStatus("/flash", space).isOk());
  EXPECT_EQ(space.freeBlocks, 11u);
  EXPECT_EQ(device.tree("/flash"), "/flash/d/ 755\n/flash/fifo special\n");
  ASSERT_TRUE(device.addFile("/flash/d/e/f", "") && device.removeTree("/flash/d") && device.removeTree("/none/x"));
  EXPECT_FALSE(device.removeTree("/ram"));
  EXPECT_EQ(device.tree("/flash"), "/flash/fifo special\n");
  device.failAt(EnvCall::Write, 1, ENOSPC);
  ASSERT_TRUE(device.openWritable("/flash/w", WriteMode::Truncate, 0644, out).isOk());
  EXPECT_EQ(out->append("x", 1).subject(), "/flash/w");
}

}  // namespace
}  // namespace installer
