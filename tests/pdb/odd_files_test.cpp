// Every file of a package's database directory and its schedule is read
// only when it is a regular file within its size bound: a link, a FIFO (a
// read of which the device fails the test on, as it would block) or an
// overlong file reads as no file at all, and the load neither hangs nor
// grows.
#include <gtest/gtest.h>

#include "pdb/database_loader.h"
#include "support/pdb_records.h"
#include "support/recorded_output.h"
#include "support/router_device.h"

namespace installer {
namespace {

// The records as loaded, with what the load said.
std::string loaded(SimulatedDevice& device) {
  RecordedOutput output;
  InstallerState state(device, output);
  loadDatabase(state, false, "i386");
  return describeRecords(state) + output.printed;
}

// An installed package with every file the load reads; the one at
// `oddPath` is left out ("missing"), as it is ("plain"), made odd ("link",
// "fifo", "long") or holds `odd` itself.
void layOut(SimulatedDevice& device, const std::string& oddPath, const std::string& odd, size_t bound) {
  const std::pair<const char*, std::string> files[] = {
      {"/flash/var/pdb/p/version", "117532163 1700000000\n"},
      {"/flash/var/pdb/p/files", "bin/p\n"},
      {"/flash/var/pdb/p/deps", "system 0 0\n"},
      {"/flash/var/pdb/p/disabled", "auto\n"},
      {"/ram/pdb/p/schedule", "uninstall\n"},
  };
  for (const auto& [path, contents] : files) {
    std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
    if (path != oddPath || odd == "plain") {
      ASSERT_TRUE(device.addFile(path, contents));
    } else if (odd == "link") {
      ASSERT_TRUE(device.addFile(path + std::string(".real"), contents) && device.addSymlink(path, name + ".real"));
    } else if (odd == "fifo") {
      ASSERT_TRUE(device.addSpecial(path));
    } else if (odd == "long") {
      // What it held, padded to one byte over the bound: read whole, it
      // would still say the same.
      ASSERT_TRUE(device.addFile(path, contents + std::string(bound + 1 - contents.size(), '\n')));
    } else if (odd != "missing") {
      ASSERT_TRUE(device.addFile(path, odd));
    }
  }
}

// Such a file reads as a file that cannot be read: mostly as none at all;
// "files" as a directory there (a package whose list is lost, not a
// bundle); "disabled", which marks the state by being there, as one whose
// line says the user chose it, unless it is a link.
TEST(OddFiles, ReadAsUnreadable) {
  const struct {
    const char* path;
    size_t bound;
    const char* linkAs;  // "missing", "dir" (a directory there) or contents
    const char* oddAs;   // the same, for a FIFO or an overlong file
  } cases[] = {
      {"/flash/var/pdb/p/version", 4096, "missing", "missing"},
      {"/flash/var/pdb/p/files", 8 << 20, "dir", "dir"},
      {"/flash/var/pdb/p/deps", 1 << 20, "missing", "missing"},
      {"/flash/var/pdb/p/disabled", 4096, "missing", "user\n"},
      {"/ram/pdb/p/schedule", 4096, "missing", "missing"},
  };
  for (const auto& c : cases) {
    auto plain = routerDevice(4096, 1 << 20);
    layOut(*plain, c.path, "plain", c.bound);
    std::string asPlain = loaded(*plain);
    for (const char* odd : {"link", "fifo", "long"}) {
      std::string as = std::string(odd) == "link" ? c.linkAs : c.oddAs;
      auto reference = routerDevice(4096, 1 << 20);
      layOut(*reference, c.path, as == "dir" ? "missing" : as, c.bound);
      ASSERT_TRUE(as != "dir" || reference->addDirectories(c.path));
      std::string expected = loaded(*reference);
      EXPECT_NE(expected, asPlain) << c.path << " " << odd << ": the file must show in the records";
      auto device = routerDevice(4096, 1 << 20);
      layOut(*device, c.path, odd, c.bound);
      EXPECT_EQ(loaded(*device), expected) << c.path << " " << odd;
    }
  }
}

}  // namespace
}  // namespace installer
