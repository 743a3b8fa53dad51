// `pkgtool inspect` gives the installer's verdict: mutants of a few genuine
// files (bytes flipped, cut short), bundles whose members were tampered
// with, and every file of the install fuzz corpus go through `installer -`
// on a fresh device and through inspect, and inspect must accept exactly
// what the installer does. A file the installer refuses changes nothing on
// the device, whatever the settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/installer_main.h"
#include "package_inspector.h"
#include "platform/system_library.h"
#include "support/host_files.h"
#include "support/member_swaps.h"
#include "support/recorded_output.h"
#include "support/router_device.h"
#include "support/test_packages.h"

namespace installer {
namespace {

struct InstallerVerdict {
  int status = 0;
  bool changed = false;  // the device's tree, the post-run log and the RAM disk aside
  std::string after;
};

// `installer -` on a simulated device (no syncs to wait for) with the
// system package, which the corpus packages require, recorded as the
// database keeps a package without an image; with `required` the settings
// ask for signed bundles.
InstallerVerdict installerRun(const std::string& bytes, bool required = false) {
  SimulatedDevice device({{"/"}, {"/ram", 4096, 1 << 16, 0, true}});
  const std::string system = "/flash/var/pdb/system/";
  EXPECT_TRUE(device.addFile(system + "version", std::to_string(v(7, 1)) + " 1600000000\n"));
  EXPECT_TRUE(device.addFile(system + "deps", ""));
  EXPECT_TRUE(device.addFile(system + "files", ""));
  EXPECT_TRUE(device.addDirectories("/rw"));
  EXPECT_TRUE(device.addDirectories("/tmp"));
  if (required) {
    EXPECT_TRUE(device.addFile("/etc/installer/system.conf", "require-signed-bundles 1\n"));
  }
  std::istringstream input(bytes);
  std::string before = settledTree(device);
  RecordedOutput output;
  InstallerVerdict verdict{installerMain(device, output, {"-"}, input), false, settledTree(device)};
  verdict.changed = verdict.after != before;
  // The library keeps what the run opened it with, the device among it.
  openSystemLibrary(Env::posix(), SystemSettings());
  return verdict;
}

bool installerAccepts(const std::string& bytes) { return installerRun(bytes).status == 0; }

bool inspectAccepts(const std::string& dir, const std::string& bytes, std::string* report = nullptr) {
  writeHostFile(dir + "/file", bytes);
  std::ostringstream out, err;
  bool accepted = inspectPackageFile(dir + "/file", compiledTrustKeys(), "built in", out, err) == 0;
  if (report != nullptr) *report = out.str();
  return accepted;
}

std::vector<std::string> genuineFiles() {
  PackageRecipe tool = packageRecipe("tool", v(1, 0), {fileEntry("bin/tool", "#!/bin/sh\necho tool\n", 0100755)});
  BundleRecipe bundle;
  bundle.name = "all";
  bundle.version = v(1, 0);
  bundle.members = std::vector<DependencyRef>{ref("extra")};
  bundle.packages = {packageRecipe("base", v(1, 0), {fileEntry("etc/base", "base")}),
                     packageRecipe("extra", v(1, 0), {fileEntry("etc/extra", "extra")})};
  // A member that needs what the file does not carry: inspect takes it to
  // be installed, as it is on the device here.
  bundle.packages[1].deps = {ref("system", v(7, 1))};
  return {signedPackage(tool), signedBundle(bundle)};
}

// Every byte of the first 64 (the file header, the first part headers and
// length fields) flipped, then every ninth; cut at every seventh length.
std::vector<std::string> mutantsOf(const std::string& genuine) {
  std::vector<std::string> mutants;
  for (size_t i = 0; i < genuine.size(); ++i) {
    if (i < 64 || i % 9 == 0) {
      mutants.push_back(genuine);
      mutants.back()[i] = static_cast<char>(mutants.back()[i] ^ (i % 2 == 0 ? 0xff : 0x01));
    }
    if (i % 7 == 0) mutants.push_back(genuine.substr(0, i));
  }
  return mutants;
}

std::vector<std::string> corpus() {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(SOURCE_DIR "/tests/fuzz/corpus/stream_install")) {
    files.push_back(readHostFile(entry.path()));
  }
  return files;
}

TEST(InspectAgreement, InspectAcceptsExactlyWhatTheInstallerAccepts) {
  std::string dir = makeHostTempDir();
  std::vector<std::string> inputs = corpus();
  for (const std::string& genuine : genuineFiles()) {
    ASSERT_TRUE(installerAccepts(genuine) && inspectAccepts(dir, genuine));
    for (std::string& mutant : mutantsOf(genuine)) inputs.push_back(std::move(mutant));
  }
  for (const BundleCase& bundle : memberBindingCases()) inputs.push_back(bundle.bytes);
  // One flipped bit makes an unsigned bundle's part 18 a 32-byte part 26:
  // the installer passes over it and installs the member as a package.
  BundleRecipe flipped;
  flipped.name = "set";
  flipped.packages = {packageRecipe("a", v(1, 0))};
  inputs.push_back(signedBundle(flipped));
  inputs.back()[FileHeaderSize] ^= BundleHeader ^ BundleSignature;
  EXPECT_TRUE(installerAccepts(inputs.back()));
  int refused = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    bool accepted = installerAccepts(inputs[i]);
    refused += accepted ? 0 : 1;
    EXPECT_EQ(inspectAccepts(dir, inputs[i]), accepted) << "input " << i << " of " << inputs.size();
  }
  EXPECT_GT(refused, 200);
  removeHostTree(dir);
}

// The tampered bundles are refused with status 2 and nothing changed, with
// and without require-signed-bundles; the genuine ones install. Inspect
// says which row a member fails.
TEST(InspectAgreement, TamperedMembersChangeNothing) {
  std::string dir = makeHostTempDir(), report;
  for (const BundleCase& bundle : memberBindingCases()) {
    static_cast<void>(inspectAccepts(dir, bundle.bytes, &report));
    EXPECT_NE(report.find(bundle.inspectSays), std::string::npos) << bundle.what << ":\n" << report;
    for (bool required : {false, true}) {
      SCOPED_TRACE(testing::Message() << bundle.what << (required ? ", signatures required" : ""));
      InstallerVerdict verdict = installerRun(bundle.bytes, required);
      bool installs = required ? bundle.installsWhenRequired : bundle.installs;
      EXPECT_EQ(verdict.status, installs ? 0 : 2);
      EXPECT_EQ(verdict.changed, installs) << verdict.after;
    }
  }
  removeHostTree(dir);
}

}  // namespace
}  // namespace installer
