#include "support/simulated_device.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace installer {
namespace {

using Loss = SimulatedDevice::Loss;

class SimulatedDeviceTest : public testing::Test {
 protected:
  SimulatedDevice device{{{"/"}, {"/flash"}, {"/ram", 1024, 64, 0, true}}};

  bool write(const std::string& path, const std::string& data, bool sync) {
    std::unique_ptr<WritableFile> file = device.openWritable(path, WriteMode::Truncate, 0644);
    return file && file->append(data.data(), data.size()) && (!sync || file->sync());
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
    auto file = device.openWritable("/flash/a.new", WriteMode::Existing, 0);
    ASSERT_TRUE(file && file->append("new", 3) && file->sync() && device.rename("/flash/a.new", "/flash/a"));
    ASSERT_TRUE(!c.syncDirectory || device.syncPath("/flash"));
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
  ASSERT_TRUE(write("/flash/kept", "new", false) && device.changeMode("/flash/kept", 0644));
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
    ASSERT_TRUE(device.addFile("/flash/z", "z") && device.makeDirectory("/flash/x", 0755));
    auto file = device.openWritable("/flash/t", WriteMode::CreateNew, 0644);
    ASSERT_TRUE(file && file->append("t", 1) && file->sync() && device.removeFile("/flash/z"));
    ASSERT_TRUE(device.rename("/flash/t", "/flash/x/t") && device.unsyncedChanges() == 4);
    device.powerCut(which < 4 ? Loss::OneUnsyncedChange : Loss::EveryUnsyncedChange, which);
    EXPECT_EQ(device.tree("/flash"), after[which]) << which;
  }
}

// A change synced in a directory whose making was lost is lost with it; one
// in a directory whose removal is durable is as good as durable.
TEST_F(SimulatedDeviceTest, TiesChangesInADirectoryToItsOwnMakingAndRemoval) {
  ASSERT_TRUE(device.makeDirectory("/flash/d", 0755) && write("/flash/d/f", "f", true) && device.syncPath("/flash/d"));
  EXPECT_EQ(device.unsyncedChanges(), 1u);  // the mkdir: its parent was not synced
  device.powerCut(Loss::EveryUnsyncedChange);
  EXPECT_EQ(device.tree("/flash"), "");
  ASSERT_TRUE(device.addDirectories("/flash/a/b") && write("/flash/a/b/f", "", false) &&
              device.removeFile("/flash/a/b/f"));
  ASSERT_TRUE(device.removeDirectory("/flash/a/b") && device.removeDirectory("/flash/a") && device.syncPath("/flash"));
  EXPECT_EQ(device.unsyncedChanges(), 0u);
}

TEST_F(SimulatedDeviceTest, EmptiesTheRamDiskAndKeepsEachMountApart) {
  ASSERT_TRUE(device.addFile("/ram/set-up", "x") && write("/ram/written", "y", true));
  EXPECT_EQ(device.unsyncedChanges(), 0u);  // lost anyway
  FileStatus ram, flash;
  ASSERT_TRUE(device.status("/ram/written", ram) && device.status("/flash", flash));
  EXPECT_NE(ram.device, flash.device);
  EXPECT_FALSE(device.rename("/ram/written", "/flash/written"));
  EXPECT_EQ(errno, EXDEV);
  EXPECT_FALSE(device.removeDirectory("/ram"));
  EXPECT_EQ(errno, EBUSY);
  device.powerCut(Loss::NothingUnsynced);
  EXPECT_EQ(device.tree(), "/flash/ 755\n/ram/ 755\n");
}

// Four blocks of 1 KiB and three inodes; the root takes one of each.
TEST(SimulatedDevice, CountsBlocksAndInodesAndRefusesWhatDoesNotFit) {
  SimulatedDevice device({{"/", 4096, 100}, {"/small", 1024, 4, 3}});
  std::unique_ptr<WritableFile> file;
  FileStatus info;
  SpaceStatus space;
  auto append = [&file](size_t n) { return file->append(std::string(n, 'x').data(), n); };
  const struct {
    std::function<bool()> call;
    int error;
    const char* freeBlocksAndInodes;
  } rows[] = {
      {[&] { return (file = device.openWritable("/small/a", WriteMode::CreateNew, 0600)) != nullptr; }, 0, "3 1"},
      {[&] { return append(2049); }, 0, "0 1"},
      {[&] { return append(1); }, 0, "0 1"},  // fills the third block
      {[&] { return append(1023); }, ENOSPC, "0 1"},
      {[&] { return device.status("/small/a", info) && info.size == 2050; }, 0, "0 1"},
      {[&] { return device.makeDirectory("/small/d", 0755); }, ENOSPC, "0 1"},
      {[&] { return device.makeSymlink("a", "/small/l"); }, 0, "0 0"},
      {[&] { return device.openWritable("/small/b", WriteMode::Truncate, 0644) != nullptr; }, ENOSPC, "0 0"},
      {[&] { return device.removeFile("/small/a"); }, 0, "3 1"},
      {[&] { return device.makeDirectory("/small/d", 0755); }, 0, "2 0"},
      {[&] { return device.spaceStatus("/", space) && space.freeBlocks == 98 && space.totalInodes == 0; }, 0, "2 0"},
  };
  int row = 0;
  for (const auto& r : rows) {
    errno = 0;
    bool done = r.call();
    EXPECT_EQ(done ? 0 : errno != 0 ? errno : -1, r.error) << "row " << row;
    ASSERT_TRUE(device.spaceStatus("/small/.", space) && space.blockSize == 1024 && space.totalInodes == 3);
    EXPECT_EQ(std::to_string(space.freeBlocks) + " " + std::to_string(space.freeInodes), r.freeBlocksAndInodes)
        << "row " << row++;
  }
}

TEST_F(SimulatedDeviceTest, KeepsInodeNumbersThroughRenamesAndCutsAndNeverReusesThem) {
  FileStatus first, moved, cut, other;
  ASSERT_TRUE(write("/flash/a", "a", true) && device.status("/flash/a", first));
  ASSERT_TRUE(device.rename("/flash/a", "/flash/b") && device.status("/flash/b", moved));
  device.powerCut(Loss::NothingUnsynced);
  ASSERT_TRUE(device.status("/flash/b", cut) && device.removeFile("/flash/b") && write("/flash/a", "", false));
  ASSERT_TRUE(device.status("/flash/a", other));
  EXPECT_EQ(moved.inode, first.inode);
  EXPECT_EQ(cut.inode, first.inode);
  EXPECT_NE(other.inode, first.inode);
}

TEST_F(SimulatedDeviceTest, StopsEveryChangeFromTheCrashPointOn) {
  auto file = device.openWritable("/flash/a", WriteMode::Truncate, 0644);
  device.crashAt(3);
  ASSERT_TRUE(file && file->append("a", 1));
  EXPECT_FALSE(device.makeDirectory("/flash/d", 0755));
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(file->append("b", 1));
  EXPECT_FALSE(device.rename("/flash/a", "/flash/b"));
  EXPECT_EQ(device.changes(), 5u);
  EXPECT_EQ(device.tree("/flash"), "/flash/a 644 \"a\"\n");
  device.revive();
  EXPECT_EQ(device.changes(), 0u);
  EXPECT_FALSE(file->append("c", 1));  // the killed run's file
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(device.makeDirectory("/flash/d", 0755));
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
  const std::pair<std::function<bool()>, int> rows[] = {
      {[&] { return device.addSymlink("/flash/loop", "loop") && device.addSymlink("/flash/l", "d/f"); }, 0},
      {[&] { return device.addFile("/flash/d/f", std::string(100, 'f') + "\n"); }, 0},
      {[&] { return device.status("/flash/loop/x", info); }, ELOOP},
      {[&] { return device.status("/flash/d/f/x", info); }, ENOTDIR},
      {[&] { return device.openReadable("/flash/l", noLinks) != nullptr; }, ELOOP},
      {[&] { return device.openReadable("/flash/d", short3) != nullptr; }, EINVAL},
      {[&] { return device.openReadable("/flash/l", short3) != nullptr; }, EFBIG},
      {[&] { return device.openWritable("/flash/loop", exclusive, 0777) != nullptr; }, EEXIST},
      {[&] { return device.openWritable("/flash/x", exclusive, 0777) && device.status("/flash/x", info); }, 0},
      {[&] { return info.mode == 0100777 && write("/flash/y", "\"\t\001", false); }, 0},
      {[&] { return device.status("/flash/y", info) && info.mode == 0100644; }, 0},  // umask 022
      {[&] { return device.createTemporary("/flash/d/t.", name) && name.size() == 17; }, 0},
      {[&] { return device.linkStatus(name, info) && info.mode == 0100600; }, 0},
      {[&] {
         return device.listDirectory("/flash/d", names) && names == std::vector<std::string>{"f", name.substr(9)};
       },
       0},
      {[&] { return device.readSymlink("/flash/d", text); }, EINVAL},
      {[&] { return device.removeDirectory("/flash/d"); }, ENOTEMPTY},
      {[&] { return device.changeRoot("/flash/d") && device.status("/../f", info) && device.has("/flash/x"); }, 0},
      {[&] { return device.lockFile("/lock") && device.lockFile("/lock"); }, EWOULDBLOCK},  // the first still held
      {[&] { return device.lockFile("/lock") && device.read("/flash/d/lock", text) && text.empty(); }, 0},
  };
  int row = 0;
  for (const auto& [call, error] : rows) {
    errno = 0;
    bool done = call();
    EXPECT_EQ(done ? 0 : errno != 0 ? errno : -1, error) << "row " << row++;
  }
  std::string tree = "/flash/d/ 755\n/flash/d/f 644 <101 bytes sha256:d06037706d43db64>\n/flash/d/lock 600 \"\"\n";
  tree += name + " 600 \"\"\n/flash/l -> d/f\n/flash/loop -> loop\n/flash/x 777 \"\"\n";
  EXPECT_EQ(device.tree("/flash"), tree + "/flash/y 644 \"\\\"\\t\\001\"\n");
}

}  // namespace
}  // namespace installer
