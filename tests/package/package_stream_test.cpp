#include "package/package_stream.h"

#include <gtest/gtest.h>

#include "hex_text.h"
#include "support/package_streams.h"

namespace installer {
namespace {

// Plain: nobody copies or digests what is read. Copying: to a copy sink.
// Hashing: digested, too.
enum Mode { Plain, Copying, Hashing };

// Runs `script` (see runScript) on a stream over `bytes` that wants every
// type: the first part's type, what each step gave; with a sink "| copied N"
// when it got the first N bytes of the file; the digest result when hashing.
std::string run(const std::string& bytes, const std::string& script, Mode mode) {
  std::istringstream input(bytes);
  std::stringbuf sink;
  PackageStream in(input, mode == Hashing, mode >= Copying ? &sink : nullptr);
  in.wantedTypes = {1, 2, 3, 4, 9, 16, 17, 18, 19, 20, 21, 23, 24, 25};
  std::string trace = std::to_string(in.nextPart());
  trace += runScript(in, in, script);
  if (mode < Copying) return trace;
  bool prefix = bytes.compare(0, sink.str().size(), sink.str()) == 0;
  trace += " | copied " + (prefix ? std::to_string(sink.str().size()) : "garbage");
  return mode == Hashing ? trace + " " + hexText(in.digestResult(), 32) : trace;
}

TEST(PackageStream, ReadsSkipsSeeksCopiesAndDigestsParts) {
  PackageWriter parts, unrecorded(UnrecordedPackageMagic), other(PackageMagic + 1), cut, sha256, bundle;
  for (PackageWriter* file : {&parts, &unrecorded, &other}) {
    file->addPart(Note, "a");  // a one-byte skip
    file->addPart(Text24, "0123456789");
  }
  unrecorded.addRaw("z");  // a byte after the last part
  cut.addPartWithLength(Note, 100, "short");
  PackageRecipe recipe = packageRecipe("alpha", 1, {fileEntry("bin/a", "a")});
  recipe.note = std::string(20000, 'n');  // parts 25, 1, 23, 4, 9; skipped in more than one chunk
  appendPackage(sha256, recipe, nullptr);
  recipe.sha256 = false;
  bundle.addPart(Note, "before the packages: not digested");
  bundle.addPart(BundleHeader, encodeHeaderRecord("bundle", 1, 1, 0));
  appendPackage(bundle, recipe, nullptr);
  appendPackage(bundle, recipe, nullptr);
  std::string whole = run(parts.bytes(), "n n", Hashing);  // the digest that seeks and put-back must not change
  whole = whole.substr(whole.find(" |"));
  const std::string seeks = "n s4 t g s+2 g s2 k g s-1 g s11 k s-11 k t n", walk = "n n n n n n n n n x132 n";
  auto ending = [](const PackageWriter& file, int n) {
    const uint8_t* digest = reinterpret_cast<const uint8_t*>(file.signedDigests()[n].data());
    return " | copied " + std::to_string(file.bytes().size()) + " " + hexText(digest, 32);
  };
  EXPECT_EQ(run(parts.bytes(), "p g p ? n r3 t r9 ? n", Plain), "23 a a eof e 24 012 3 3456789 ef -1");
  EXPECT_EQ(run(parts.bytes(), seeks, Plain), "23 24 ok 4 4 ok 7 ok 2 ok 9 failed failed 10 -1");
  EXPECT_EQ(run(parts.bytes(), seeks, Hashing), "23 24 ok 4 4 ok 7 failed 8 ok 9 failed failed 10 -1" + whole);
  EXPECT_EQ(run(parts.bytes(), "n g g u b0 bx k r10 n", Hashing), "23 24 0 1 ok ok failed 0123456789 -1" + whole);
  EXPECT_EQ(run(parts.bytes(), "n g g u b0 bx k r10 n", Copying), "23 24 0 1 ok ok failed 0123456789 -1 | copied 31");
  EXPECT_EQ(run(unrecorded.bytes(), "n n", Copying), "23 24 -1 | copied 32");
  EXPECT_EQ(run(other.bytes(), "?", Copying), "-1 fb | copied 8") << "an unknown magic";
  EXPECT_EQ(run(cut.bytes(), "n ?", Copying), "23 -1 ef | copied 19");
  EXPECT_EQ(run(sha256.bytes(), "n n n x1 x99 x99 n", Hashing), "1 23 4 9 1 99 32 -1" + ending(sha256, 0));
  EXPECT_EQ(run(bundle.bytes(), walk, Copying),
            "23 18 1 23 4 9 1 23 4 9 132 -1 | copied " + std::to_string(bundle.bytes().size()));
  EXPECT_EQ(run(bundle.bytes(), walk, Hashing), "23 18 1 23 4 9 1 23 4 9 132 -1" + ending(bundle, 1));
}

// For a tool that shows a file's structure the stream delivers every part,
// part 25 and types no reader knows included, and digests as it always
// does; the file header says whether it was whole and what its length
// field holds.
TEST(PackageStream, DeliversEveryPartWhenAskedAndTellsTheFileHeader) {
  PackageWriter file;
  file.addPart(DigestSelect, "");
  file.addPart(PackageHeader, encodeHeaderRecord("a", 1, 1, 0));
  file.addPart(99, "x");
  file.addPart(Note, "n");
  file.setLengthField(1234);
  auto walk = [&](bool everyPart, std::string& digest) {
    std::istringstream input(file.bytes());
    PackageStream stream(input, true, nullptr);
    stream.wantedTypes = {Note};
    stream.everyPart = everyPart;
    std::string trace;
    for (int32_t type = stream.nextPart(); type != -1; type = stream.nextPart()) {
      trace += " " + std::to_string(type) + "@" + std::to_string(stream.payloadOffset());
    }
    EXPECT_TRUE(stream.headerComplete);
    EXPECT_EQ(stream.lengthField, 1234u);
    digest = hexText(stream.digestResult(), 32);
    return trace;
  };
  std::string everyDigest, wantedDigest;
  EXPECT_EQ(walk(true, everyDigest), " 25@14 1@20 99@62 23@69");
  EXPECT_EQ(walk(false, wantedDigest), " 23@69");
  EXPECT_EQ(everyDigest, wantedDigest);
  std::istringstream cut(file.bytes().substr(0, FileHeaderSize - 1));
  PackageStream shortHeader(cut, false, nullptr);
  EXPECT_FALSE(shortHeader.headerComplete);
  EXPECT_EQ(shortHeader.magic, MissingMagic);
}

// Readers that do not want the bundle signature part pass it over: with
// the install run's set of old, the database loader's (no digests: seeks)
// and the branding check's, a signed bundle gives the parts and member
// digests of the unsigned one. The part's head digest covers every byte
// before it, file header included.
TEST(PackageStream, PassesOverABundleSignaturePartItDoesNotWant) {
  BundleRecipe recipe;
  recipe.name = "set";
  recipe.members = std::vector<DependencyRef>{ref("a")};
  recipe.architecture = "mipsbe";
  recipe.packages = {packageRecipe("a", v(1, 0)), packageRecipe("b", v(1, 0))};
  const std::string plain = signedBundle(recipe);
  recipe.headSignature = true;
  const std::string bundle = signedBundle(recipe);
  auto walk = [](const std::string& bytes, std::vector<uint32_t> types, bool hashing) {
    OpenedStream opened(bytes, std::move(types), hashing);
    std::string trace;
    for (int32_t type = opened.stream.currentType; type != -1; type = opened.stream.nextPart()) {
      trace += " " + std::to_string(type);
      if (type == Signature) opened.stream.finishDigest(), trace += ":" + hexText(opened.stream.digestResult(), 32);
    }
    return trace;
  };
  const std::string installRun = walk(bundle, {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}, true);
  EXPECT_EQ(installRun, walk(plain, {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}, true));
  EXPECT_EQ(installRun.substr(0, 16) + installRun.substr(80, 7), " 18 16 20 1 4 9: 1 4 9:");
  EXPECT_EQ(walk(bundle, {18, 1, 24, 23, 3, 19, 17}, false), " 18 1 1");
  EXPECT_EQ(walk(bundle, {18, 1, 24, 16, 2, 23, 3, 19, 17, 21}, true), " 18 16 1 1");
  OpenedStream signature(bundle, {BundleSignature});
  uint32_t at = signature.stream.payloadOffset() - PartHeaderSize;
  uint8_t head[32];
  Digest sha256(Digest::Sha256);
  sha256.update(bundle.data(), at), sha256.finish(head);
  EXPECT_EQ(signature.stream.headLength(), at);
  EXPECT_EQ(hexText(signature.stream.headDigest(), 32), hexText(head, 32));
}

}  // namespace
}  // namespace installer
