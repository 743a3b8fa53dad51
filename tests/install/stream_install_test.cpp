#include "install/stream_install.h"

#include <gtest/gtest.h>

#include "package/bundle_signature.h"
#include "package/package_format.h"
#include "support/install_run.h"
#include "support/member_swaps.h"
#include "support/package_streams.h"

namespace installer {
namespace {

using StreamInstall = InstallRun;

// The bundle "suite" carrying `members`, each with one file, and naming
// `listed` in a member list when given.
BundleRecipe suite(PackageVersion version, const std::vector<std::string>& members,
                   const std::vector<std::string>& listed = {}) {
  BundleRecipe bundle;
  bundle.name = "suite", bundle.version = version, bundle.buildTime = testBuildTime;
  for (const auto& name : members) bundle.packages.push_back(packageRecipe(name, version, {fileEntry(name, name)}));
  if (!listed.empty()) bundle.members.emplace();
  for (const std::string& name : listed) bundle.members->push_back(installer::ref(name));
  return bundle;
}

// A package followed by what `more` adds.
std::string hello(void (*more)(PackageWriter&)) {
  PackageWriter writer;
  writer.addRaw(pkg("hello", v(1, 0)).substr(FileHeaderSize));
  more(writer);
  return writer.bytes();
}

// Every way a stream can end wrong, and the result of each kind of bundle.
TEST_F(StreamInstall, ResultOfEveryStream) {
  const std::string package = pkg("hello", v(1, 0)), bundle = signedBundle(suite(v(1, 0), {"a", "b"}));
  BundleRecipe related = suite(v(1, 0), {"a"}), unsignedFirst = suite(v(1, 0), {"a", "b"});
  related.deps = std::vector<DependencyRef>{ref("x")}, unsignedFirst.packages[0].withSignature = false;
  const std::string broken = "ERROR: installation of hello-1.0 failed: broken package";
  // bytes, a record equal to the bundle or to its member "a", status, what is said
  // clang-format off
  struct Case {
    std::string bytes;
    const char* installed;
    ExitStatus status;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {package.substr(0, package.size() - 150), "", ExitFailure, {broken}},  // in the files
      {package.substr(0, package.size() - 1), "", ExitFailure, {broken}},    // in the signature
      {hello([](PackageWriter& w) { w.setLengthField(static_cast<uint32_t>(w.bytes().size() - 7)); }), "", ExitFailure, {broken}},  // declares 1 more
      {package + "\x01", "", ExitFailure, {broken}},
      {hello([](PackageWriter& w) { appendPackage(w, packageRecipe("b", v(1, 0)), developmentSigner()); }), "", ExitFailure, {broken}},
      {hello([](PackageWriter& w) { w.addPart(Dependencies, ""); }), "", ExitSuccess, {}},
      {hello([](PackageWriter& w) { w.addPart(Dependencies, std::string(2, '\0')); }), "", ExitFailure, {broken}},
      {bundle.substr(0, bundle.size() - 1), "", ExitBundleFailed, {"ERROR: installation of suite-1.0 failed: broken package"}},
      {bundle + "\x01\x02", "", ExitBundleFailed, {}},
      {signedBundle(related), "", ExitFailure, {}},
      {signedBundle(suite(v(1, 0), {"a"}, std::vector<std::string>(MaxBundleMembers, "m"))), "", ExitSuccess, {}},
      {signedBundle(suite(v(1, 0), {"a"}, std::vector<std::string>(MaxBundleMembers + 1, "m"))), "", ExitFailure, {}},
      {bundle, "suite", ExitBundleFailed, {"WARNING: omitting package suite-1.0: it is already installed"}},
      {signedBundle(suite(v(1, 0), {"suite"})), "", ExitBundleFailed, {}},  // a member named like its bundle
      {signedBundle(suite(v(1, 0), {})), "", ExitBundleEmpty, {}},
      {bundle, "a", ExitSuccess, {}},  // the member not needed is still read through and verified
      {signedBundle(unsignedFirst), "a", ExitBundleFailed, {"ERROR: installation of suite-1.0 failed: broken package"}},
  };
  // clang-format on
  for (const auto& [bytes, installed, status, messages] : cases) {
    SCOPED_TRACE(testing::Message() << "a stream of " << bytes.size() << " bytes");
    state.packages.clear(), state.messages.clear(), cancelStaged(staged);
    if (*installed) addRecord(state, installed, v(1, 0), testBuildTime);
    EXPECT_EQ(run(bytes).status, status);
    EXPECT_EQ(state.messages, messages);
  }
}

// Listed members without a choice of the user are held disabled, by a
// nameless record that conflicts with them, for the rest of the process;
// members the next version drops are uninstalled.
TEST_F(StreamInstall, BundleMembers) {
  // clang-format off
  EXPECT_EQ(run(signedBundle(suite(v(1, 0), {"a", "b", "c"}, {"a", "b", "c"})), Upgrade, {{"a", 1}, {"b", 0}}).record.name, "suite");
  EXPECT_EQ(summary(), "suite+ + a- b+ c- | b=b var/pdb/a/disabled=user\n var/pdb/a/version var/pdb/b/enabled=user\n var/pdb/b/version "
                       "var/pdb/c/disabled=auto\n var/pdb/c/version var/pdb/suite/version x/a/a=a x/c/c=c");
  cancelStaged(staged);
  ASSERT_TRUE(root.addDirectories("/flash/var/pdb/c"));
  EXPECT_EQ(run(signedBundle(suite(v(2, 0), {"a", "b"}))).status, ExitSuccess);
  EXPECT_EQ(summary(), "+ suite+ a+ b+ | a=a b=b var/pdb/a/version var/pdb/b/version var/pdb/c/:delete var/pdb/suite/version");
  // clang-format on
}

// `bytes` with the bundle signature of `from`, as if it had been made over them.
std::string withSignatureOf(std::string bytes, const std::string& from) {
  OpenedStream signature(from, {BundleSignature});
  size_t at = signature.stream.payloadOffset();
  return bytes.replace(at, bundleSignatureLength, from, at, bundleSignatureLength);
}

// `bundle` with a note part between its signature part and the first
// member's part 1, signed anew: the note is in no digest.
std::string withNoteAfterSignature(std::string bundle) {
  OpenedStream signature(bundle, {BundleSignature});
  size_t at = signature.stream.payloadOffset() - PartHeaderSize;
  bundle.insert(at + PartHeaderSize + signature.stream.partLength(), std::string("\x17\0\1\0\0\0n", 7));
  bundle[4] = static_cast<char>(bundle[4] + 7);
  fillBundleSignature(bundle, at, developmentHeadSigner());
  return bundle;
}

class BundleSignatures : public StreamInstall {
 protected:
  void requireSignedBundles(bool on) {
    SystemSettings settings = systemLibrarySettings();
    settings.requireSignedBundles = on;
    openSystemLibrary(root, settings);
  }
  ExitStatus runAfresh(const std::string& bytes) {
    state.packages.clear(), state.messages.clear(), cancelStaged(staged);
    return run(bytes).status;
  }
};

// Every byte before the first member's part 1 is signed, the member table
// too: each one flipped is refused before anything is staged. A flipped
// type of the signature part makes it an unknown part and the bundle an
// unsigned one, which only the setting refuses.
TEST_F(BundleSignatures, CoverTheFileHeaderAndTheBundlesOwnParts) {
  BundleRecipe recipe = suite(v(1, 0), {"a", "b"}, {"b"});
  recipe.architecture = "i386", recipe.squashfsImage = "image", recipe.headSignature = true;
  const std::string bundle = signedBundle(recipe);
  OpenedStream signature(bundle, {BundleSignature});
  const size_t typeAt = signature.stream.payloadOffset() - PartHeaderSize;
  for (bool required : {false, true}) {
    requireSignedBundles(required);
    EXPECT_EQ(runAfresh(bundle), ExitSuccess);
    for (size_t i = 0; i < signature.stream.payloadOffset() + signature.stream.partLength(); ++i) {
      std::string flipped = bundle;
      flipped[i] = static_cast<char>(flipped[i] ^ 0xFF);
      bool strippedSignature = !required && (i == typeAt || i == typeAt + 1);
      EXPECT_EQ(runAfresh(flipped) == ExitSuccess, strippedSignature) << "byte " << i;
      EXPECT_TRUE(strippedSignature || staged.entries.empty()) << "byte " << i;
    }
  }
}

// A genuine member wrapped in a header of someone else's, named after an
// installed package and newer: its record would replace that package and
// drop its files. Unsigned it goes through as it always has, unless the
// setting asks for a signature; a signature that is not its own, a zero
// one, or one over another member list is refused, and so is an unsigned
// part between the signature and the first member (also in a part signed
// without a member table, which does not bind the first member's place).
TEST_F(BundleSignatures, RefuseAForgedHeaderAroundAGenuineMember) {
  BundleRecipe genuine = suite(v(1, 0), {"a"}, {"a"}), forged = genuine, relisted = genuine;
  forged.name = "firewall", forged.version = v(9, 0), relisted.members = {ref("b")};
  genuine.headSignature = relisted.headSignature = true;
  const std::string genuineBytes = signedBundle(genuine), unsignedForgery = signedBundle(forged);
  genuine.memberTable = false;
  const std::string untabledBytes = signedBundle(genuine);
  forged.headSignature = true;
  const std::string broken = "ERROR: installation of firewall-9.0 failed: broken package";
  // clang-format off
  struct Case {
    std::string bytes;
    bool required;
    ExitStatus status;
    std::string said;
  };
  const Case cases[] = {
      {unsignedForgery, false, ExitSuccess, ""},
      {unsignedForgery, true, ExitBundleFailed, broken},
      {buildBundle(forged, developmentSigner()), false, ExitBundleFailed, broken},
      {withSignatureOf(signedBundle(forged), genuineBytes), false, ExitBundleFailed, broken},
      {withSignatureOf(signedBundle(relisted), genuineBytes), false, ExitBundleFailed, "ERROR: installation of suite-1.0 failed: broken package"},
      {withNoteAfterSignature(genuineBytes), false, ExitBundleFailed, "ERROR: installation of suite-1.0 failed: broken package"},
      {withNoteAfterSignature(untabledBytes), false, ExitBundleFailed, "ERROR: installation of suite-1.0 failed: broken package"},
  };
  // clang-format on
  for (const auto& [bytes, required, status, said] : cases) {
    requireSignedBundles(required);
    state.packages.clear(), state.messages.clear(), cancelStaged(staged);
    addRecord(state, "firewall", v(1, 0), testBuildTime).files = {"bin/fw"};
    ASSERT_TRUE(root.addFile("/flash/bin/fw", "fw"));
    EXPECT_EQ(run(bytes).status, status);
    EXPECT_EQ(summary(), status == ExitSuccess
                             ? "firewall- + a- | bin/fw:delete var/pdb/a/disabled=auto\n var/pdb/a/version "
                               "var/pdb/firewall/disabled=auto\n var/pdb/firewall/version x/a/a=a"
                             : "firewall+ |\n" + said);
  }
}

// With a member table every member is bound to its row (memberBindingCases):
// a tampered one gets the bundle refused as broken whatever the setting,
// and the member added last is refused before anything of it is staged.
// Bundles signed without a table install as before unless the setting asks
// for signed bundles; then they must be signed again.
TEST_F(BundleSignatures, BindEveryMemberToItsRow) {
  const std::string broken = "ERROR: installation of suite-7.2 failed: broken package";
  for (const BundleCase& bundle : memberBindingCases()) {
    for (bool required : {false, true}) {
      SCOPED_TRACE(testing::Message() << bundle.what << (required ? ", signatures required" : ""));
      requireSignedBundles(required);
      bool installs = required ? bundle.installsWhenRequired : bundle.installs;
      EXPECT_EQ(runAfresh(bundle.bytes), installs ? ExitSuccess : ExitBundleFailed);
      EXPECT_EQ(state.messages, installs ? std::vector<std::string>{} : std::vector<std::string>{broken});
      EXPECT_EQ(staged.find("/flash/gamma") != nullptr, std::string(bundle.what) == "another package");
    }
  }
}

}  // namespace
}  // namespace installer
