#include "package/package_stream.h"

#include <gtest/gtest.h>

#include <sstream>

#include "package/package_format.h"
#include "package_builder.h"

namespace {

const std::vector<uint32_t> allTypes = {1, 2, 3, 4, 9, 16, 17, 18, 19, 20, 21, 23, 24, 25, 99};

std::string digestOf(Digest::Algorithm algorithm, const std::string& bytes, size_t from, size_t to) {
  Digest digest(algorithm);
  digest.update(bytes.data() + from, to - from);
  uint8_t out[32] = {};
  digest.finish(out);
  return std::string(reinterpret_cast<char*>(out), sizeof out);
}

std::string resultOf(const PackageStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.digestResult()), 32);
}

// The digest result of a hashing stream once it reaches its first part 9;
// empty when it never does.
std::string digestAtFirstSignature(const std::string& bytes) {
  std::istringstream input(bytes);
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {Signature};
  if (stream.nextPart() != 9) return std::string();
  stream.finishDigest();
  return resultOf(stream);
}

// Reads every wanted part to its end; returns the types met.
std::vector<int32_t> readAll(PackageStream& stream) {
  std::vector<int32_t> types;
  while (stream.nextPart() >= 0) {
    types.push_back(stream.currentType);
    std::string payload(stream.partLength(), '\0');
    stream.read(&payload[0], std::streamsize(payload.size()));
  }
  return types;
}

const WrittenPart& partOf(const PackageWriter& writer, uint16_t type) {
  for (const WrittenPart& part : writer.parts()) {
    if (part.type == type) return part;
  }
  static WrittenPart none;
  ADD_FAILURE() << "no part " << type;
  return none;
}

// 25?, 1, 24, 16, 3, 4, 9: a small package with skippable parts.
void writeSample(PackageWriter& writer, bool sha256) {
  if (sha256) writer.addPart(DigestSelect, "");
  writer.addPart(PackageHeader, encodeHeaderRecord("alpha", 0x07010000, 5, std::nullopt));
  writer.addPart(Text24, "some text");
  writer.addPart(Architecture, "mipsbe");
  writer.addPart(Dependencies, encodeDependencyList({{"system", 0x07000000, 0, 0}}));
  writer.addPart(Files, deflateBytes("not really records"));
  writer.addSignature(nullptr, 132);
}

TEST(PackageStreamHeader, AcceptsBothMagicsAndRefusesOthers) {
  for (uint32_t magic : {PackageMagic, UnrecordedPackageMagic}) {
    PackageWriter writer(magic);
    writer.addPart(PackageHeader, encodeHeaderRecord("a", 1, 2, std::nullopt));
    std::istringstream input(writer.bytes());
    PackageStream stream(input, true, nullptr);
    stream.wantedTypes = {PackageHeader};
    EXPECT_EQ(stream.magic, magic);
    EXPECT_EQ(stream.nextPart(), 1);
  }
  PackageWriter writer(0xBAD0F11F);
  writer.addPart(PackageHeader, encodeHeaderRecord("a", 1, 2, std::nullopt));
  std::istringstream input(writer.bytes());
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {PackageHeader};
  EXPECT_TRUE(stream.bad());
  EXPECT_EQ(stream.nextPart(), -1);
  EXPECT_EQ(stream.currentType, -1);
}

TEST(PackageStreamHeader, FileHeaderBytesAreLittleEndian) {
  std::istringstream input(std::string("\x1E\xF1\xD0\xBA\x10\x02\x00\x00", 8));
  PackageStream stream(input, false, nullptr);
  EXPECT_EQ(stream.magic, PackageMagic);
  EXPECT_EQ(stream.totalSize, 0x218u);
  EXPECT_TRUE(stream.good());
  std::istringstream other(std::string("\xFB\x0F\x10\xA1\x00\x00\x00\x00", 8));
  PackageStream unrecorded(other, false, nullptr);
  EXPECT_EQ(unrecorded.magic, UnrecordedPackageMagic);
}

TEST(PackageStreamHeader, ShortFileHeaderGivesMissingMagic) {
  std::istringstream input(std::string("\x1E\xF1\xD0\xBA\x10", 5));
  std::stringbuf sink;
  PackageStream stream(input, true, &sink);
  EXPECT_EQ(stream.magic, 0xFFFFFFFFu);
  EXPECT_TRUE(stream.bad());
  stream.wantedTypes = allTypes;
  EXPECT_EQ(stream.nextPart(), -1);
  EXPECT_EQ(sink.str(), std::string("\x1E\xF1\xD0\xBA\x10", 5));
}

TEST(PackageStreamHeader, TotalSizeComesFromTheLengthFieldAlone) {
  PackageWriter writer;
  writer.addPart(Architecture, "x86");
  writer.setLengthField(1000);
  std::istringstream input(writer.bytes());
  PackageStream stream(input, false, nullptr);
  EXPECT_EQ(stream.totalSize, 1008u);
  stream.wantedTypes = {Architecture};
  EXPECT_EQ(stream.nextPart(), 16);
}

TEST(PackageStreamParts, DeliversWantedPartsOnlyAndBoundsReads) {
  PackageWriter writer;
  writeSample(writer, true);
  std::istringstream input(writer.bytes());
  PackageStream stream(input, false, nullptr);
  stream.wantedTypes = {Architecture, Files, DigestSelect};
  ASSERT_EQ(stream.nextPart(), 16);
  EXPECT_EQ(stream.partLength(), 6u);
  EXPECT_EQ(stream.payloadOffset(), partOf(writer, Architecture).headerOffset + 6);
  char text[16] = {};
  stream.read(text, sizeof text);
  EXPECT_EQ(stream.gcount(), 6);
  EXPECT_EQ(std::string(text), "mipsbe");
  EXPECT_TRUE(stream.eof());
  EXPECT_TRUE(stream.fail());
  // A failed read inside a part sticks: the next part is not reached.
  EXPECT_EQ(stream.nextPart(), -1);
}

TEST(PackageStreamParts, EndOfPartIsEndOfFileForGetAndPeek) {
  PackageWriter writer;
  writer.addPart(Note, "ab");
  writer.addPart(Note, "cd");
  std::istringstream input(writer.bytes());
  PackageStream stream(input, false, nullptr);
  stream.wantedTypes = {Note};
  ASSERT_EQ(stream.nextPart(), 23);
  EXPECT_EQ(stream.get(), 'a');
  EXPECT_EQ(stream.peek(), 'b');
  EXPECT_EQ(stream.get(), 'b');
  EXPECT_EQ(stream.peek(), std::char_traits<char>::eof());
  EXPECT_TRUE(stream.eof());
  EXPECT_FALSE(stream.fail());
  // eofbit alone does not end the stream.
  ASSERT_EQ(stream.nextPart(), 23);
  EXPECT_EQ(stream.get(), 'c');
}

TEST(PackageStreamParts, DigestSelectIsNeverDelivered) {
  PackageWriter writer;
  writeSample(writer, true);
  std::istringstream input(writer.bytes());
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = allTypes;
  EXPECT_EQ(readAll(stream), (std::vector<int32_t>{1, 24, 16, 3, 4, 9}));
  EXPECT_TRUE(stream.eof());
  EXPECT_TRUE(stream.fail());
}

TEST(PackageStreamParts, EmptyWantedTypesSkipsToTheEnd) {
  PackageWriter writer;
  writeSample(writer, false);
  std::string bytes = writer.bytes();
  std::istringstream input(bytes);
  std::stringbuf sink;
  PackageStream stream(input, true, &sink);
  EXPECT_EQ(stream.nextPart(), -1);
  EXPECT_EQ(sink.str(), bytes);
}

TEST(PackageStreamParts, UnknownTypesAreSkippedLikeUnwantedOnes) {
  PackageWriter writer;
  writer.addPart(77, "junk");
  writer.addPart(Note, "n");
  std::istringstream input(writer.bytes());
  PackageStream stream(input, false, nullptr);
  stream.wantedTypes = {Note};
  EXPECT_EQ(stream.nextPart(), 23);
  EXPECT_EQ(stream.get(), 'n');
}

TEST(PackageStreamParts, PayloadRunningPastTheEndFailsTheSkip) {
  for (bool hashing : {false, true}) {
    PackageWriter writer;
    writer.addPartWithLength(Note, 100, "short");
    std::istringstream input(writer.bytes());
    PackageStream stream(input, hashing, nullptr);
    stream.wantedTypes = {Note, Architecture};
    ASSERT_EQ(stream.nextPart(), 23);
    EXPECT_EQ(stream.nextPart(), -1);
    EXPECT_TRUE(stream.eof());
    EXPECT_TRUE(stream.fail());
  }
}

TEST(PackageStreamPosition, PositionIsOffsetInTheFile) {
  PackageWriter writer;
  writeSample(writer, false);
  std::istringstream input(writer.bytes());
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {Dependencies};
  ASSERT_EQ(stream.nextPart(), 3);
  uint64_t start = partOf(writer, Dependencies).headerOffset + 6;
  EXPECT_EQ(stream.position(), start);
  char two[2];
  stream.read(two, 2);
  EXPECT_EQ(stream.position(), start + 2);
  EXPECT_EQ(stream.remaining(), stream.partLength() - 2);
}

TEST(PackageStreamCopy, SinkGetsTheExactBytesConsumed) {
  PackageWriter writer;
  writeSample(writer, true);
  writer.addPart(Architecture, "tail");
  std::string bytes = writer.bytes();
  for (bool hashing : {false, true}) {
    std::istringstream input(bytes);
    std::stringbuf sink;
    PackageStream stream(input, hashing, &sink);
    stream.wantedTypes = {Files, Signature};
    ASSERT_EQ(stream.nextPart(), 4);
    char three[3];
    stream.read(three, 3);
    size_t upTo = partOf(writer, Files).headerOffset + 6 + 3;
    EXPECT_EQ(sink.str(), bytes.substr(0, upTo)) << "hashing " << hashing;
    ASSERT_EQ(stream.nextPart(), 9);
    uint8_t signature[132];
    EXPECT_EQ(stream.readRaw(signature, sizeof signature), 132u);
    EXPECT_EQ(stream.nextPart(), -1);
    EXPECT_EQ(sink.str(), bytes) << "hashing " << hashing;
  }
}

TEST(PackageStreamCopy, PutBackByteIsCopiedAndDigestedOnce) {
  PackageWriter writer;
  writer.addPart(PackageHeader, "abcdef");
  writer.addPart(Signature, "");
  std::string bytes = writer.bytes();
  std::istringstream input(bytes);
  std::stringbuf sink;
  PackageStream stream(input, true, &sink);
  stream.wantedTypes = {PackageHeader, Signature};
  ASSERT_EQ(stream.nextPart(), 1);
  EXPECT_EQ(stream.get(), 'a');
  EXPECT_EQ(stream.get(), 'b');
  EXPECT_TRUE(stream.unget());
  EXPECT_TRUE(stream.putback('a'));
  EXPECT_FALSE(stream.putback('x')) << "nothing before the start of the payload";
  stream.clear();
  char all[6];
  stream.read(all, 6);
  EXPECT_EQ(std::string(all, 6), "abcdef");
  ASSERT_EQ(stream.nextPart(), 9);
  stream.finishDigest();
  EXPECT_EQ(sink.str(), bytes);
  size_t from = partOf(writer, PackageHeader).headerOffset;
  EXPECT_EQ(resultOf(stream), digestOf(Digest::Sha1, bytes, from, bytes.size()));
}

TEST(PackageStreamDigest, Sha1CoversPartOneThroughSignatureHeader) {
  PackageWriter writer;
  writer.addPart(Note, "before the package: not digested");
  writeSample(writer, false);
  std::string bytes = writer.bytes();
  std::istringstream input(bytes);
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {PackageHeader, Signature};
  ASSERT_EQ(stream.nextPart(), 1);
  ASSERT_EQ(stream.nextPart(), 9);
  stream.finishDigest();
  size_t from = partOf(writer, PackageHeader).headerOffset;
  size_t to = partOf(writer, Signature).headerOffset + 6;
  std::string expected = digestOf(Digest::Sha1, bytes, from, to);
  EXPECT_EQ(resultOf(stream), expected);
  EXPECT_EQ(expected.substr(20), std::string(12, '\0'));
  EXPECT_EQ(writer.signedDigests().at(0), expected);
}

TEST(PackageStreamDigest, PartTwentyFiveBeforePartOneSelectsSha256) {
  PackageWriter writer;
  writeSample(writer, true);
  std::string bytes = writer.bytes();
  size_t from = partOf(writer, PackageHeader).headerOffset;
  size_t to = partOf(writer, Signature).headerOffset + 6;
  std::string digest = digestAtFirstSignature(bytes);
  EXPECT_EQ(digest, digestOf(Digest::Sha256, bytes, from, to));
  EXPECT_EQ(writer.signedDigests().at(0), digest);
}

TEST(PackageStreamDigest, PartTwentyFiveAfterPartOneStartsSha256AtItsHeader) {
  PackageWriter writer;
  writer.addPart(PackageHeader, encodeHeaderRecord("late", 1, 1, 0));
  writer.addPart(Architecture, "x86");
  writer.addPart(DigestSelect, "ignored payload");
  writer.addPart(Files, "zzz");
  writer.addSignature(nullptr, 68);
  std::string bytes = writer.bytes();
  size_t from = partOf(writer, DigestSelect).headerOffset;
  size_t to = partOf(writer, Signature).headerOffset + 6;
  EXPECT_EQ(digestAtFirstSignature(bytes), digestOf(Digest::Sha256, bytes, from, to));
}

TEST(PackageStreamDigest, EachPackageOfAStreamHasItsOwnDigest) {
  PackageWriter writer;
  writer.addPart(BundleHeader, encodeHeaderRecord("bundle", 1, 1, 0));
  writeSample(writer, false);
  size_t secondStart = writer.bytes().size();
  writeSample(writer, false);
  std::string bytes = writer.bytes();
  std::istringstream input(bytes);
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {Signature};
  ASSERT_EQ(stream.nextPart(), 9);
  ASSERT_EQ(stream.nextPart(), 9);
  stream.finishDigest();
  EXPECT_EQ(resultOf(stream), digestOf(Digest::Sha1, bytes, secondStart, bytes.size() - 132));
  EXPECT_EQ(writer.signedDigests().at(1), resultOf(stream));
}

TEST(PackageStreamDigest, DigestsAreOffWithoutHashing) {
  PackageWriter writer;
  writeSample(writer, true);
  std::istringstream input(writer.bytes());
  PackageStream stream(input, false, nullptr);
  stream.wantedTypes = {Signature};
  EXPECT_FALSE(stream.hashing());
  ASSERT_EQ(stream.nextPart(), 9);
  EXPECT_EQ(resultOf(stream), std::string(32, '\0'));
}

TEST(PackageStreamRaw, ReadRawStaysInThePartAndSkipsTheDigest) {
  PackageWriter writer;
  writer.addPart(PackageHeader, "head");
  writer.addPart(Signature, "0123456789");
  writer.addPart(Architecture, "arch");
  std::string bytes = writer.bytes();
  std::istringstream input(bytes);
  std::stringbuf sink;
  PackageStream stream(input, true, &sink);
  stream.wantedTypes = {Signature, Architecture};
  ASSERT_EQ(stream.nextPart(), 9);
  uint8_t raw[64];
  EXPECT_EQ(stream.readRaw(raw, 4), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 4), "0123");
  EXPECT_EQ(stream.remaining(), 6u);
  EXPECT_EQ(stream.readRaw(raw, sizeof raw), 6u);
  EXPECT_EQ(stream.remaining(), 0u);
  stream.finishDigest();
  size_t to = partOf(writer, Signature).headerOffset + 6;
  EXPECT_EQ(resultOf(stream), digestOf(Digest::Sha1, bytes, 8, to));
  ASSERT_EQ(stream.nextPart(), 16);
  EXPECT_EQ(sink.str(), bytes.substr(0, bytes.size() - 4));
}

class PackageStreamSeek : public ::testing::TestWithParam<bool> {};

TEST_P(PackageStreamSeek, ForwardSeeksAndTellWork) {
  bool hashing = GetParam();
  PackageWriter writer;
  writer.addPart(PackageHeader, "0123456789");
  writer.addPart(Signature, "");
  std::string bytes = writer.bytes();
  std::istringstream input(bytes);
  PackageStream stream(input, hashing, nullptr);
  stream.wantedTypes = {PackageHeader, Signature};
  ASSERT_EQ(stream.nextPart(), 1);
  EXPECT_EQ(stream.tellg(), 0);
  EXPECT_TRUE(stream.seekg(4));
  EXPECT_EQ(stream.tellg(), 4);
  EXPECT_EQ(stream.get(), '4');
  EXPECT_TRUE(stream.seekg(2, std::ios_base::cur));
  EXPECT_EQ(stream.get(), '7');
  EXPECT_TRUE(stream.seekg(10));
  EXPECT_EQ(stream.peek(), std::char_traits<char>::eof());
  stream.clear();
  EXPECT_FALSE(stream.seekg(11)) << "beyond the part";
  stream.clear();
  EXPECT_EQ(stream.tellg(), 10);
  ASSERT_EQ(stream.nextPart(), 9);
  stream.finishDigest();
  // Bytes passed over by a seek are digested like read ones.
  if (hashing) {
    EXPECT_EQ(resultOf(stream), digestOf(Digest::Sha1, bytes, 8, bytes.size()));
  }
}

TEST_P(PackageStreamSeek, BackwardSeekNeedsASeekableSourceAndNoDigest) {
  bool hashing = GetParam();
  PackageWriter writer;
  writer.addPart(Note, "0123456789");
  std::istringstream input(writer.bytes());
  PackageStream stream(input, hashing, nullptr);
  stream.wantedTypes = {Note};
  ASSERT_EQ(stream.nextPart(), 23);
  ASSERT_TRUE(stream.seekg(6));
  bool moved = static_cast<bool>(stream.seekg(2));
  EXPECT_EQ(moved, !hashing);
  stream.clear();
  EXPECT_EQ(stream.get(), hashing ? '6' : '2');
}

TEST_P(PackageStreamSeek, SeekFromEndCountsBackFromThePartLength) {
  PackageWriter writer;
  writer.addPart(Note, "0123456789");
  std::istringstream input(writer.bytes());
  PackageStream stream(input, GetParam(), nullptr);
  stream.wantedTypes = {Note};
  ASSERT_EQ(stream.nextPart(), 23);
  ASSERT_TRUE(stream.seekg(3, std::ios_base::end));
  EXPECT_EQ(stream.get(), '7');
}

INSTANTIATE_TEST_SUITE_P(HashingOffAndOn, PackageStreamSeek, ::testing::Bool());

// Counts the bytes that are read from it in bulk.
class CountingBuf : public std::stringbuf {
 public:
  explicit CountingBuf(const std::string& bytes) : std::stringbuf(bytes) {}
  std::streamsize bulkRead = 0;

 protected:
  std::streamsize xsgetn(char* bytes, std::streamsize n) override {
    std::streamsize got = std::stringbuf::xsgetn(bytes, n);
    bulkRead += got;
    return got;
  }
};

TEST(PackageStreamSeek, SkipSeeksWhenNobodyNeedsTheBytes) {
  PackageWriter writer;
  writer.addPart(Note, std::string(50000, 'x'));
  writer.addPart(Architecture, "arm");
  for (bool hashing : {false, true}) {
    CountingBuf source(writer.bytes());
    std::istream input(&source);
    PackageStream stream(input, hashing, nullptr);
    stream.wantedTypes = {Architecture};
    ASSERT_EQ(stream.nextPart(), 16);
    EXPECT_EQ(stream.payloadOffset(), 8u + 6 + 50000 + 6);
    EXPECT_EQ(source.bulkRead, hashing ? 8 + 6 + 50000 + 6 : 8 + 6 + 6);
    char arch[3];
    ASSERT_TRUE(stream.read(arch, 3));
    EXPECT_EQ(std::string(arch, 3), "arm");
  }
}

// A source that cannot seek, like standard input on a pipe.
class PipeBuf : public std::stringbuf {
 public:
  explicit PipeBuf(const std::string& bytes) : std::stringbuf(bytes) {}

 protected:
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
  pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(-1); }
};

TEST(PackageStreamSeek, UnseekableSourceIsReadThrough) {
  PackageWriter writer;
  writer.addPart(Note, std::string(40000, 'y'));
  writer.addPart(Architecture, "arm");
  PipeBuf pipe(writer.bytes());
  std::istream input(&pipe);
  PackageStream stream(input, false, nullptr);
  stream.wantedTypes = {Note, Architecture};
  ASSERT_EQ(stream.nextPart(), 23);
  ASSERT_TRUE(stream.seekg(30000));
  EXPECT_FALSE(stream.seekg(10)) << "backward on a pipe";
  stream.clear();
  ASSERT_EQ(stream.nextPart(), 16);
  EXPECT_EQ(stream.get(), 'a');
}

TEST(PackageStreamRobustness, EveryTruncationEndsCleanly) {
  PackageWriter writer;
  writeSample(writer, true);
  std::string bytes = writer.bytes();
  for (size_t length = 0; length < bytes.size(); ++length) {
    std::istringstream input(bytes.substr(0, length));
    std::stringbuf sink;
    PackageStream stream(input, true, &sink);
    stream.wantedTypes = allTypes;
    readAll(stream);
    EXPECT_EQ(stream.currentType, -1);
    EXPECT_EQ(sink.str(), bytes.substr(0, length)) << "cut at " << length;
  }
}
}  // namespace
