#include "rules/candidate_scan.h"

#include <gtest/gtest.h>

#include "support/install_run.h"

namespace installer {
namespace {

using CandidateScan = InstallRun;

constexpr char dir[] = "/flash/rw/pckg/";

// Each file alone in the package directory, with one file of the device.
TEST_F(CandidateScan, WhichFilesAreTaken) {
  const std::string whole = pkg("alpha", v(8, 0)), marker = "/pckg/branding/FORCE_DEFCONF_ON_RESET";
  const std::string board = "/sys/firmware/devicetree/base/firmware-package";
  BundleRecipe empty, bundle;
  empty.name = bundle.name = "all", bundle.packages.assign(2, packageRecipe("one", v(8, 0)));
  bundle.packages[0].squashfsImage = "I";
  // file name, bytes ("fifo": a FIFO), a file of the device and its contents, what is said and taken
  // clang-format off
  struct Case {
    const char* file;
    std::string bytes;
    std::pair<std::string, std::string> device;
    const char* said;
  };
  const Case cases[] = {
      {"a.dpk", whole, {}, "a.dpk "},
      {"a.txt", whole, {}, ""},
      {".a.kmp", whole, {}, ""},
      {"a.kmp", whole.substr(0, whole.size() - 1), {}, "ERROR: broken package a.kmp\n"},  // shorter than its header says
      {"a.kmp", "fifo", {}, "ERROR: broken package a.kmp\n"},
      {"a.kmp", signedBundle(empty), {}, "ERROR: broken package a.kmp\n"},  // a bundle without members
      {"a.kmp", signedBundle(bundle), {}, "a.kmp "},  // an image between members is passed over
      {"a.kmp", pkg("alpha", v(8, 0), [](PackageRecipe& r) { r.architecture = "x86"; }), {}, "WARNING: can not install alpha-8.0: it is not made for i386, but for x86\n"},
      // A protected branding is replaced only by one whose image holds the marker too.
      {"a.kmp", pkg("branding", v(8, 0), [](PackageRecipe& r) { r.squashfsImage = "IMAGE"; }), {}, "a.kmp "},
      {"a.kmp", pkg("branding", v(8, 0)), {marker, ""}, "ERROR: can not replace protected branding with non-protected\n"},
      {"a.kmp", pkg("branding", v(8, 0), [](PackageRecipe& r) { r.squashfsImage = "IMAGE"; }), {marker, ""}, "ERROR: can not replace protected branding with non-protected\n"},
      {"marked.kmp", pkg("branding", v(8, 0), [](PackageRecipe& r) { r.squashfsImage = "IMAGE"; }), {marker, ""}, "marked.kmp "},
      {"a.kmp", pkg("brandingx", v(8, 0)), {marker, ""}, "a.kmp "},
      // A firmware package must be the one the device tree names, up to its zero byte.
      {"a.kmp", pkg("firmware-a", v(8, 0)), {}, "ERROR: can not install firmware-a-8.0: not for this platform\n"},
      {"a.kmp", pkg("firmware-a", v(8, 0)), {board, std::string("firmware-b\0", 11)}, "ERROR: can not install firmware-a-8.0: use firmware-b package instead\n"},
      {"a.kmp", pkg("firmware-a", v(8, 0)), {board, std::string("firmware-a\0junk", 15)}, "a.kmp "},
      {"a.kmp", pkg("firmware-ab", v(8, 0)), {board, "firmware-a"}, "ERROR: can not install firmware-ab-8.0: use firmware-a package instead\n"},
      {"a.kmp", pkg("system", v(8, 0)), {}, "ERROR: will not install package system-8.0, not allowed by device-mode\n"},
      {"a.kmp", pkg("system", v(8, 0)), {"/ram/SECURE", ""}, "a.kmp "},
  };
  // clang-format on
  for (const auto& [file, bytes, device, said] : cases) {
    SCOPED_TRACE(std::string(file) + " " + said);
    for (const char* path : {dir, "/pckg", "/sys", "/ram/SECURE"}) ASSERT_TRUE(root.removeTree(path));
    ASSERT_TRUE(device.first.empty() || root.addFile(device.first, device.second));
    ASSERT_TRUE(bytes == "fifo" ? root.addSpecial(dir + std::string(file))
                                : root.addFile(dir + std::string(file), bytes));
    std::vector<std::unique_ptr<PackageCandidate>> found;
    scanPackageDirectory(state, dir, found);
    std::string text = output.take();  // what is said, then the files taken
    for (const auto& candidate : found) text += candidate->path.substr(sizeof dir - 1) + " ";
    EXPECT_EQ(text, said);
  }
}

}  // namespace
}  // namespace installer
