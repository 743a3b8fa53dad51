// Restoring records from the meta and state files of their directories,
// as the database loads.
#include "pdb/package_state.h"

#include <gtest/gtest.h>

#include "support/pdb_records.h"

namespace installer {
namespace {

// Lines of "files" that leave "/flash/", name nothing or hold a control
// byte are dropped. What cannot be restored whole keeps what was read
// before the fault and is to be uninstalled; so is a sub-package restored
// without its bundle. A directory without "files" is a bundle's.
TEST(PackageState, RestoresFromMetaAndStateFiles) {
  const std::pair<const char*, const char*> cases[] = {
      {"p/version=117532163|1700000000|;p/deps=system 117532160 0|  dhcp\t0 7|;p/provides=ospf 1 2 -3|bgp 0 0 12|;"
       "p/conflicts=old 0 4294967295|;p/files=bin/ospfd|/lib/libospf.so||nvram/a..b|a b~|..|/|///|a/../b|a/..|"
       "../a|\x1f|cr\r|del\x7f|",
       "p 117532163 1700000000 needs=system:117532160:0 needs=dhcp:0:7 provides=ospf:1:2:-3 provides=bgp:0:0:12 "
       "excludes=old:0:4294967295 file=/a b~ file=/bin/ospfd file=/lib/libospf.so file=/nvram/a..b"},
      {"p/deps=", "p 0 0 bundle uninstall"},
      {"p/version=12|;p/files=", "p 0 0 uninstall"},
      {"p/version=-1 5|;p/files=", "p 0 0 uninstall"},
      {"p/version=12x 5|;p/files=", "p 0 0 uninstall"},
      {"p/version=1 2;p/files=;p/deps=a 1 2|b 3|c 4 5|", "p 1 2 uninstall needs=a:1:2"},
      {"p/version=1 2;p/files=;p/provides=a 1 2|", "p 1 2 uninstall"},
      {"p/version=1 2;p/files=;p/conflicts=a 1|", "p 1 2 uninstall"},
      {"p/version=5 6;p/files=lib/w.ko|;p/bundle=all|", "p 5 6 in=all:0:0 uninstall file=/lib/w.ko"},
      {"p/version=1 2;p/files=;p/disabled=auto|", "p 1 2 off"},
      {"p/version=1 2;p/files=;p/disabled=Auto|", "p 1 2 off user"},
      {"p/version=1 2;p/files=;p/disabled=auto|;p/enabled=user|", "p 1 2 off"},
      {"p/version=1 2;p/files=;p/enabled=", "p 1 2 user"},
  };
  for (const auto& [files, expected] : cases) EXPECT_EQ(loadedFrom(files), expected + std::string("\n")) << files;
}

}  // namespace
}  // namespace installer
