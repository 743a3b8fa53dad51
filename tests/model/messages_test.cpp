#include "model/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/system_error.h"
#include "support/recorded_output.h"

namespace installer {
namespace {

InstalledPackage package(const std::string& name, PackageVersion bundleVersion = 0) {
  InstalledPackage record(name);
  record.version = 0x07016600;
  record.disabled = true;  // shown only outside a bundle
  record.bundle = {bundleVersion != 0 ? "platform" : "", bundleVersion, bundleVersion, 0};
  return record;
}

// A message wipes the status line; a warning draws it again below, an error
// or info erases it for good. Texts are cut to 255 characters. A failed
// install is worded by the kind of its failure; a bundle member is shown by its bundle.
TEST(Messages, ExactBytesShownAndKept) {
  RecordedOutput output;
  InstallerState state(Env::posix(), output);
  const std::string hide = "\x1b[?25l\r", show = "\r\x1b[?25h",
                    failed = "ERROR: installation of platform-7.1.1 failed: ";
  setStatusLine(state, "abcdef");
  setStatusLine(state, "abcdef");  // unchanged: nothing written
  setStatusLine(state, "xy");
  warning(state, "%s", std::string(300, 'w').c_str());
  info(state, "installed %s", "x");
  showInstallProgress(state, package("wifi", 0x07016601), 1, 100);
  for (int code : {ENOSPC, EIO, EACCES}) {
    reportInstallFailure(state, package("wifi", 0x07016601), "/bin/wifi", systemError("/bin/wifi", code));
  }
  reportBrokenPackage(state, package("x"));
  const std::string bar = "installing platform-7.1.1 [" + std::string(49, ' ') + "]", wipe(79, ' ');
  std::vector<std::string> kept = {"WARNING: " + std::string(255, 'w'), "installed x", failed + "disk is too small",
                                   failed + "disk error",
                                   failed + "could not create /bin/wifi: " + std::strerror(EACCES)};
  kept.push_back("ERROR: installation of x-7.1 failed: broken package");
  EXPECT_EQ(output.printed, hide + "abcdef" + show + hide + "xy    " + show + "\r" + wipe + "\r" + kept[0] + "\nxy" +
                                hide + "  " + show + kept[1] + "\n" + hide + bar + show + hide +
                                std::string(bar.size(), ' ') + show + kept[2] + "\n" + kept[3] + "\n" + kept[4] + "\n" +
                                kept[5] + "\n");
  EXPECT_TRUE(output.allFlushed());
  EXPECT_EQ(state.messages, kept);
  // The bar ends at column 76 and is clamped to the total; a wrapped total of
  // 0 leaves it empty, a long label leaves no room for it.
  struct Case {
    size_t length;
    uint64_t position;
    uint32_t total;
    size_t filled;
    size_t empty;
  };
  const Case cases[] = {{1, 50, 100, 23, 23},       {1, 1, 3, 15, 31},  {1, 500, 100, 46, 0}, {1, 7, 0, 0, 46},
                        {1, ~0u - 1ul, ~0u, 45, 1}, {46, 10, 10, 1, 0}, {47, 10, 10, 0, 0},   {70, 9, 9, 0, 0}};
  for (auto [length, position, total, filled, empty] : cases)
    EXPECT_EQ(progressLine(package(std::string(length, 'n')), position, total),
              "installing  (disabled) " + std::string(length, 'n') + "-7.1 [" + std::string(filled, '#') +
                  std::string(empty, ' ') + "]");
}

}  // namespace
}  // namespace installer
