// installPackage is driven through the stand-alone path of installStream,
// which sets the stream up as the install run does and adds nothing else.
#include "install/package_install.h"

#include <gtest/gtest.h>

#include "package/package_format.h"
#include "support/install_run.h"

namespace installer {
namespace {

using PackageInstall = InstallRun;

// The package carries an image too: more than two steps of the pass over it.
void ownsBootImage(PackageRecipe& r) { r.headerFlags = OwnsBootImage, r.squashfsImage = std::string(9000, 'i'); }

// Over "hello" 1.0, which owns the boot image, has the file /bin/old, and
// whose database directory is reused when it is replaced, and "rival",
// which conflicts with "hello" from 3.0 on.
TEST_F(PackageInstall, WhatIsInstalledAndHow) {
  // bytes, flags, choices, "bootimage" set; the status, the image directory, "boot" for the boot image,
  // "/rw/CONVERT" when it was made, and the summary
  // clang-format off
  struct Case {
    std::string bytes;
    uint32_t flags;
    UserChoices choices;
    bool bootimage;
    const char* expected;
  };
  const Case cases[] = {
      {pkg("hello", v(2, 0)), Upgrade, {}, false, "0 rival+ hello+ | bin/hello=hi bin/old:delete var/pdb/hello/version"},
      {pkg("hello", v(1, 0)), Upgrade, {}, false, "0 hello+ rival+ |\nWARNING: omitting package hello-1.0: it is already installed"},
      {pkg("hello", v(1, 0)), Upgrade | Reinstall, {{"hello", 1}}, false, "0 boot hello+ rival+ |\ninstalled (disabled) hello-1.0"},
      {pkg("hello", v(1, 0), [](PackageRecipe& r) { r.withSignature = false; }), Upgrade | Reinstall, {}, false, "1 hello+ rival+ |\nERROR: installation of hello-1.0 failed: broken package"},
      {pkg("hello", v(0, 5)), Upgrade, {}, false, "1 hello+ rival+ |\nWARNING: omitting package hello-0.5: newer package hello-1.0 is already installed"},
      // The user's choice is kept; a package in conflict is installed, but disabled.
      {pkg("hello", v(2, 0)), Upgrade, {{"hello", 1}}, false, "0 rival+ hello- | bin/old:delete var/pdb/hello/disabled=user\n var/pdb/hello/version x/hello/bin/hello=hi"},
      {pkg("hello", v(2, 0)), Upgrade, {{"hello", 0}}, false, "0 rival+ hello+ | bin/hello=hi bin/old:delete var/pdb/hello/enabled=user\n var/pdb/hello/version"},
      {pkg("hello", v(3, 0)), Upgrade, {}, false, "0 rival+ hello- | bin/old:delete var/pdb/hello/disabled=auto\n var/pdb/hello/version x/hello/bin/hello=hi"},
      {pkg("hello", v(2, 0), nullptr, {UnrecordedPackageMagic, std::nullopt}), Upgrade, {}, false, "0 hello+ rival+ hello+ | bin/hello=hi"},
      // Markers for the boot scripts; with "bootimage" the owner of the boot image runs from its image.
      {pkg("kernel", v(1, 0), ownsBootImage), Upgrade, {}, false, "0 /flash/var/pdb/kernel/ hello+ rival+ kernel+ | UPGRADED= bin/kernel=hi"},
      {pkg("kernel", v(1, 0), ownsBootImage), Upgrade, {}, true, "0 /flash/var/pdb/kernel/ boot hello+ rival+ kernel+ | UPGRADED="},
      {pkg("branding", v(1, 0)), Upgrade, {}, false, "0 hello+ rival+ branding+ | BRANDING_INSTALLED= UPGRADED= bin/branding=hi var/pdb/branding/version"},
      // A system of major version 6 or older leaves the conversion marker, even when refused.
      {pkg("system", v(6, 49)), Upgrade, {}, false, "1 /rw/CONVERT hello+ rival+ |\nERROR: omitting package system-6.49: min Kalmaris version is 7.2"},
      {pkg("system", v(7, 2)), Upgrade, {}, false, "0 hello+ rival+ system+ | bin/system=hi var/pdb/system/version"},
      {pkg("blocked", v(1, 0)), Upgrade, {}, false, "1 hello+ rival+ |"},  // a file stands where its database directory belongs
  };
  // clang-format on
  for (const auto& [bytes, flags, choices, bootimage, expected] : cases) {
    state.packages.clear(), state.messages.clear(), cancelStaged(staged);
    ASSERT_TRUE(root.removeTree("/rw/CONVERT"));
    InstalledPackage& hello = addRecord(state, "hello", v(1, 0), testBuildTime);  // first: replaced at index 0
    hello.files = {"/bin/old"}, hello.headerFlags = OwnsBootImage;
    addRecord(state, "rival", v(1, 0)).conflicts = {ref("hello", v(3, 0))};
    ASSERT_TRUE(root.addFile("/flash/bin/old", "") && root.addFile("/flash/var/pdb/blocked", "") &&
                root.addDirectories("/flash/var/pdb/hello"));
    bootimage ? root.setVariable("bootimage", "") : root.unsetVariable("bootimage");
    StreamInstallResult result = run(bytes, flags, choices);
    std::string marks = (result.imageDirectory.empty() ? "" : " " + result.imageDirectory) +
                        (result.bootImage ? " boot" : "") + (root.has("/rw/CONVERT") ? " /rw/CONVERT" : "");
    EXPECT_EQ(std::to_string(result.status) + marks + " " + summary(), expected);
  }
}

}  // namespace
}  // namespace installer
