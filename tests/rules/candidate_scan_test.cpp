#include "rules/candidate_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>

#include "package_builder.h"
#include "platform/system_settings.h"
#include "support/chroot_runner.h"
#include "support/loop_support.h"
#include "support/temp_root.h"

namespace {

constexpr char packageDir[] = "/flash/rw/pckg/";
constexpr char firmwareProperty[] = "/sys/firmware/devicetree/base/firmware-package";
constexpr PackageVersion version71 = makeVersion(7, 1, Final, 0);

PackageRecipe packageNamed(const std::string& name, const std::string& architecture = "powerpc") {
  PackageRecipe spec;
  spec.name = name;
  spec.version = version71;
  spec.buildTime = 1000;
  spec.architecture = architecture;
  spec.files = {{"bin/" + name, 0100755, 0, "contents of " + name}};
  return spec;
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

class CandidateScanTest : public testing::Test {
 protected:
  CandidateScanTest() { state.architecture = "powerpc"; }

  void writePackage(const std::string& fileName, const std::string& bytes) {
    root.writeFile(std::string(packageDir) + fileName, bytes);
  }

  // Scans the package directory by its host path: enough for every check
  // that does not look at the device's fixed paths.
  void scanOnHost() { scanPackageDirectory(root.at(packageDir), candidates, state); }
  // Scans it as the device sees it, chrooted into the test root; `before`
  // prepares the chrooted process, `checks` looks at the outcome there.
  void scanOnDevice(
      const std::function<void()>& checks, const std::function<void()>& before = [] {}) {
    runInChroot(root.path(), [&] {
      before();
      scanPackageDirectory(packageDir, candidates, state);
      checks();
    });
  }

  std::vector<std::string> candidateFiles() const {
    std::vector<std::string> files;
    for (const auto& candidate : candidates) files.push_back(candidate->path);
    return sorted(files);
  }

  TempRoot root;
  InstallerState state;
  std::vector<std::unique_ptr<PackageCandidate>> candidates;
};

TEST_F(CandidateScanTest, ReadsOnlyFilesEndingInKmpOrDpk) {
  writePackage("a.kmp", buildPackage(packageNamed("alpha")));
  writePackage("b.dpk", buildPackage(packageNamed("beta")));
  // Well-formed packages too: had they been read, they would be candidates.
  writePackage("c.txt", buildPackage(packageNamed("gamma")));
  writePackage(".x.kmp", buildPackage(packageNamed("hidden")));
  writePackage("kmp", buildPackage(packageNamed("bare")));
  writePackage("d.kmp.old", buildPackage(packageNamed("old")));

  scanOnHost();

  std::string dir = root.at(packageDir);
  EXPECT_EQ(candidateFiles(), (std::vector<std::string>{dir + "a.kmp", dir + "b.dpk"}));
  EXPECT_TRUE(state.messages.empty());
  for (const auto& candidate : candidates) {
    const std::string& expected = candidate->path == dir + "a.kmp" ? "alpha" : "beta";
    EXPECT_EQ(candidate->name, expected);
    EXPECT_EQ(candidate->version, version71);
    EXPECT_EQ(candidate->buildTime, 1000u);
    EXPECT_EQ(candidate->architecture, "powerpc");
    EXPECT_FALSE(candidate->isBundle);
  }
}

TEST_F(CandidateScanTest, AppendsToTheGivenListAndReadsHeaderParts) {
  candidates.push_back(std::make_unique<PackageCandidate>("/elsewhere/first.kmp"));
  PackageRecipe spec = packageNamed("full");
  spec.note = "a note";
  spec.deps = std::vector<DependencyRef>{{"system", version71, 0, 0}};
  spec.squashfsImage = std::string(64, 'S');
  writePackage("full.kmp", buildPackage(spec));

  scanOnHost();

  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0]->path, "/elsewhere/first.kmp");
  const PackageCandidate& read = *candidates[1];
  EXPECT_EQ(read.path, root.at(packageDir) + "full.kmp");
  EXPECT_EQ(read.note, "a note");
  ASSERT_EQ(read.deps.size(), 1u);
  EXPECT_EQ(read.deps[0].name, "system");
  EXPECT_TRUE(read.bootImageFlag);
}

TEST_F(CandidateScanTest, MissingDirectoryAddsNothingAndSaysNothing) {
  scanPackageDirectory(root.at("/no/such/dir/"), candidates, state);
  EXPECT_TRUE(candidates.empty());
  EXPECT_TRUE(state.messages.empty());
}

BundleRecipe bundleNamed(const std::string& name, std::vector<PackageRecipe> members) {
  BundleRecipe spec;
  spec.name = name;
  spec.version = version71;
  spec.buildTime = 1000;
  spec.architecture = "powerpc";
  std::vector<DependencyRef> refs;
  for (const PackageRecipe& member : members) refs.push_back({member.name, member.version, 0, 0});
  spec.members = refs;
  spec.packages = std::move(members);
  return spec;
}

// Every way a file can be broken, in one scan: each is named once and none
// stops the scan of the rest.
TEST_F(CandidateScanTest, BrokenFilesAreNamedAndSkipped) {
  std::string bytes = buildPackage(packageNamed("alpha"));
  writePackage("short.kmp", bytes.substr(0, bytes.size() - 1));  // size differs from the header's
  writePackage("long.kmp", bytes + "x");
  writePackage("whole.kmp", bytes);
  PackageWriter badMagic(0x12345678);
  badMagic.addPart(PartType::PackageHeader, encodeHeaderRecord("alpha", version71, 0, std::nullopt));
  writePackage("magic.kmp", badMagic.bytes());
  PackageWriter noHeader;
  noHeader.addPart(PartType::Files, deflateBytes(""));
  writePackage("noheader.kmp", noHeader.bytes());
  writePackage("empty.kmp", "");
  root.makeDirs(std::string(packageDir) + "dir.kmp");
  writePackage("none.kmp", buildBundle(bundleNamed("none", {})));
  BundleRecipe listed = bundleNamed("listed", {});
  listed.members = std::vector<DependencyRef>{{"one", version71, 0, 0}};  // named, but not carried
  writePackage("listed.kmp", buildBundle(listed));
  PackageWriter brokenMember;
  brokenMember.addPart(PartType::BundleHeader, encodeHeaderRecord("all", version71, 0, std::nullopt));
  brokenMember.addPart(PartType::PackageHeader, encodeHeaderRecord("one", version71, 0, std::nullopt));
  brokenMember.addPart(PartType::Dependencies, std::string("\x02\x00", 2) + std::string(32, '\0'));  // one entry short
  writePackage("member.kmp", brokenMember.bytes());

  scanOnHost();

  EXPECT_EQ(candidateFiles(), (std::vector<std::string>{root.at(packageDir) + "whole.kmp"}));
  std::vector<std::string> expected;
  for (const char* name : {"dir", "empty", "listed", "long", "magic", "member", "noheader", "none", "short"}) {
    expected.push_back(std::string("ERROR: broken package ") + name + ".kmp");
  }
  EXPECT_EQ(sorted(state.messages), expected);
}

TEST_F(CandidateScanTest, BundleCarriesItsMembers) {
  BundleRecipe spec = bundleNamed("all", {packageNamed("one"), packageNamed("two")});
  spec.packages[0].squashfsImage = std::string(32, 'S');  // an image between members is passed over
  writePackage("all.kmp", buildBundle(spec));

  scanOnHost();

  ASSERT_EQ(candidates.size(), 1u);
  const PackageCandidate& bundle = *candidates[0];
  EXPECT_TRUE(bundle.isBundle);
  EXPECT_EQ(bundle.name, "all");
  ASSERT_EQ(bundle.children.size(), 2u);
  EXPECT_EQ(bundle.children[0]->name, "one");
  EXPECT_TRUE(bundle.children[0]->bootImageFlag);
  EXPECT_EQ(bundle.children[1]->name, "two");
  EXPECT_FALSE(bundle.children[1]->bootImageFlag);
  EXPECT_TRUE(state.messages.empty());
}

TEST_F(CandidateScanTest, ForeignArchitectureIsWarnedAboutAndSkipped) {
  writePackage("foreign.kmp", buildPackage(packageNamed("foreign", "x86")));
  PackageRecipe unnamed = packageNamed("unnamed");
  unnamed.architecture.reset();  // no part 16: built for "i386"
  writePackage("unnamed.kmp", buildPackage(unnamed));
  writePackage("any.kmp", buildPackage(packageNamed("any", "")));
  writePackage("own.kmp", buildPackage(packageNamed("own")));

  scanOnHost();

  std::string dir = root.at(packageDir);
  EXPECT_EQ(candidateFiles(), (std::vector<std::string>{dir + "any.kmp", dir + "own.kmp"}));
  EXPECT_EQ(
      sorted(state.messages),
      (std::vector<std::string>{"WARNING: can not install foreign-7.1: it is not made for powerpc, but for x86",
                                "WARNING: can not install unnamed-7.1: it is not made for powerpc, but for i386"}));
}

// --- checks that look at the device's own paths --------------------------

TEST_F(CandidateScanTest, UnprotectedBrandingPassesWithoutTouchingALoopDevice) {
  SKIP_UNLESS_ROOT();
  // No /dev in the test root at all: any use of the loop driver would fail
  // and refuse the package.
  writePackage("branding.kmp", buildPackage(packageNamed("branding")));

  scanOnDevice([&] {
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0]->path, "/flash/rw/pckg/branding.kmp");
    EXPECT_TRUE(state.messages.empty());
  });
  EXPECT_FALSE(root.exists("/ram/branding"));
}

TEST_F(CandidateScanTest, ProtectedBrandingRefusesReplacementWithoutImage) {
  SKIP_UNLESS_ROOT();
  root.writeFile("/pckg/branding/FORCE_DEFCONF_ON_RESET", "");
  writePackage("branding.kmp", buildPackage(packageNamed("branding")));
  writePackage("brandingx.kmp", buildPackage(packageNamed("brandingx")));  // another package: not checked

  scanOnDevice([&] {
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0]->name, "brandingx");
    EXPECT_EQ(state.messages,
              (std::vector<std::string>{"ERROR: can not replace protected branding with non-protected"}));
  });
}

TEST_F(CandidateScanTest, ProtectedBrandingWithoutLoopDriverRefusesReplacement) {
  SKIP_UNLESS_ROOT();
  root.writeFile("/pckg/branding/FORCE_DEFCONF_ON_RESET", "");
  PackageRecipe spec = packageNamed("branding");
  spec.squashfsImage = std::string(4096, 'S');
  writePackage("branding.kmp", buildPackage(spec));

  scanOnDevice(
      [&] {
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "loop-control: No such file or directory\n");
        EXPECT_TRUE(candidates.empty());
        EXPECT_EQ(state.messages,
                  (std::vector<std::string>{"ERROR: can not replace protected branding with non-protected"}));
      },
      [] { testing::internal::CaptureStderr(); });
}

// The protected case through a real loop device, inside the test root.
class BrandingImageTest : public CandidateScanTest {
 protected:
  void SetUp() override {
    SKIP_UNLESS_ROOT();
    std::string reason = loopMountSkipReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    lock = std::make_unique<LoopTestLock>();
    if (!makeLoopDeviceNodes(root.path())) GTEST_SKIP() << "cannot make loop device nodes in the test root";
    root.writeFile("/pckg/branding/FORCE_DEFCONF_ON_RESET", "");
  }

  void writeBranding(bool withMarker) {
    TempRoot source;
    source.writeFile("/image/defconf", "x");
    if (withMarker) source.writeFile("/image/FORCE_DEFCONF_ON_RESET", "");
    PackageRecipe spec = packageNamed("branding");
    spec.squashfsImage = buildSquashfsImage(source.at("/image"));
    ASSERT_FALSE(spec.squashfsImage->empty()) << "mksquashfs failed";
    writePackage("branding.kmp", buildPackage(spec));
  }

  void expectEverythingTakenDown() {
    EXPECT_FALSE(isMountPoint(root.at("/ram/branding")));
    for (const std::string& backing : attachedLoopBackingFiles()) {
      EXPECT_EQ(backing.find(root.path()), std::string::npos) << "still attached: " << backing;
    }
  }

  std::unique_ptr<LoopTestLock> lock;
};

TEST_F(BrandingImageTest, ProtectedReplacementPasses) {
  writeBranding(true);

  scanOnDevice([&] {
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0]->name, "branding");
    EXPECT_TRUE(candidates[0]->bootImageFlag);
    EXPECT_TRUE(state.messages.empty());
  });
  expectEverythingTakenDown();
  EXPECT_TRUE(root.exists("/ram/branding"));
}

TEST_F(BrandingImageTest, ImageWithoutMarkerIsRefused) {
  writeBranding(false);

  scanOnDevice([&] {
    EXPECT_TRUE(candidates.empty());
    EXPECT_EQ(state.messages,
              (std::vector<std::string>{"ERROR: can not replace protected branding with non-protected"}));
  });
  expectEverythingTakenDown();
}

// A "firmware-" package must be the one the board's property names; the
// property's text ends at its zero byte, or is taken whole without one.
TEST_F(CandidateScanTest, FirmwareMustBeTheOneThePropertyNames) {
  SKIP_UNLESS_ROOT();
  struct Case {
    std::optional<std::string> property;
    std::vector<std::string> packages, accepted, messages;
  };
  const Case cases[] = {
      {std::nullopt, {"firmware-a"}, {}, {"ERROR: can not install firmware-a-7.1: not for this platform"}},
      {std::string("firmware-b\0", 11),
       {"firmware-a"},
       {},
       {"ERROR: can not install firmware-a-7.1: use firmware-b package instead"}},
      {std::string("firmware-a\0junk", 15), {"firmware-a", "firmwarea"}, {"firmware-a", "firmwarea"}, {}},
      {std::string("firmware-a"),
       {"firmware-a", "firmware-ab"},
       {"firmware-a"},
       {"ERROR: can not install firmware-ab-7.1: use firmware-a package instead"}},
  };
  for (const Case& c : cases) {
    TempRoot device;
    if (c.property) device.writeFile(firmwareProperty, *c.property);
    for (const std::string& name : c.packages) {
      device.writeFile(packageDir + name + ".kmp", buildPackage(packageNamed(name)));
    }
    runInChroot(device.path(), [&] {
      scanPackageDirectory(packageDir, candidates, state);
      std::vector<std::string> names;
      for (const auto& candidate : candidates) names.push_back(candidate->name);
      EXPECT_EQ(sorted(names), c.accepted) << c.packages.back();
      EXPECT_EQ(state.messages, c.messages) << c.packages.back();
    });
  }
}

// Settings under which the device mode lets only system 8.x through.
void restrictSystemPackages() {
  systemSettings().deviceModeAnySystem = false;
  systemSettings().safePackages = {{makeVersion(8, 0, Final, 0), makeVersion(8, 255, Final, 255), 0, 0xFFFFFFFF, 0}};
}

TEST_F(CandidateScanTest, DeviceModeRefusesSystemPackageUnlessSecure) {
  SKIP_UNLESS_ROOT();
  root.makeDirs("/ram");
  writePackage("system.kmp", buildPackage(packageNamed("system")));
  writePackage("other.kmp", buildPackage(packageNamed("other")));

  scanOnDevice(
      [&] {
        ASSERT_EQ(candidates.size(), 1u);
        EXPECT_EQ(candidates[0]->name, "other");
        EXPECT_EQ(state.messages,
                  (std::vector<std::string>{"ERROR: will not install package system-7.1, not allowed by device-mode"}));
        candidates.clear();
        state.messages.clear();
        std::ofstream("/ram/SECURE") << "";
        scanPackageDirectory(packageDir, candidates, state);
        EXPECT_EQ(candidates.size(), 2u);
        EXPECT_TRUE(state.messages.empty());
      },
      restrictSystemPackages);
}

}  // namespace
