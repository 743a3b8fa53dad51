#include "package/inflate_stream.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <sstream>

#include "package_builder.h"

namespace {

std::string sampleText(size_t size) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  text.resize(size);
  return text;
}

// A package file whose only part is a part 4 with `payload`.
std::string filesPart(const std::string& payload) {
  PackageWriter writer;
  writer.addPart(Files, payload);
  writer.addPart(Signature, "");
  return writer.bytes();
}

struct OpenPart {
  explicit OpenPart(const std::string& bytes, std::streambuf* sink = nullptr)
      : input(bytes), stream(input, true, sink) {
    stream.wantedTypes = {Files, Signature};
    EXPECT_EQ(stream.nextPart(), 4);
  }
  std::istringstream input;
  PackageStream stream;
};

std::string readAll(std::istream& in) {
  std::ostringstream out;
  char chunk[777];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) out.write(chunk, in.gcount());
  return out.str();
}

TEST(InflateStream, InflatesAcrossManyRefills) {
  std::string text = sampleText(100000);
  std::string bytes = filesPart(deflateBytes(text));
  std::stringbuf sink;
  OpenPart part(bytes, &sink);
  InflateStream files(part.stream.streamBuffer());
  EXPECT_EQ(readAll(files), text);
  EXPECT_EQ(files.produced(), 100000u);
  EXPECT_EQ(part.stream.nextPart(), 9);
  EXPECT_EQ(sink.str(), bytes) << "compressed bytes are copied as they pass";
}

TEST(InflateStream, EmptyPartAndEmptyStreamReadAsEndOfFile) {
  for (const std::string& payload : {std::string(), deflateBytes("")}) {
    OpenPart part(filesPart(payload));
    InflateStream files(part.stream.streamBuffer());
    EXPECT_EQ(files.get(), std::char_traits<char>::eof());
    EXPECT_EQ(files.produced(), 0u);
  }
}

TEST(InflateStream, CorruptOrTruncatedDataEndsEarly) {
  std::string text = sampleText(20000);
  std::string compressed = deflateBytes(text);
  std::string corrupt = compressed;
  corrupt[compressed.size() / 2] = static_cast<char>(corrupt[compressed.size() / 2] ^ 0x55);
  for (const std::string& payload : {compressed.substr(0, compressed.size() / 2), corrupt, std::string("junk")}) {
    OpenPart part(filesPart(payload));
    InflateStream files(part.stream.streamBuffer());
    std::string got = readAll(files);
    EXPECT_NE(got.size(), text.size());
    EXPECT_TRUE(files.eof());
  }
  OpenPart cut(filesPart(compressed.substr(0, compressed.size() / 2)));
  InflateStream files(cut.stream.streamBuffer());
  std::string got = readAll(files);
  EXPECT_TRUE(got == text.substr(0, got.size())) << "a cut stream gives a prefix";
}

TEST(InflateStream, NeverReadsPastItsPart) {
  PackageWriter writer;
  std::string compressed = deflateBytes(sampleText(5000));
  writer.addPart(Files, compressed.substr(0, 40));  // cut: the rest follows in another part
  writer.addPart(Note, compressed.substr(40));
  std::istringstream input(writer.bytes());
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {Files, Note};
  ASSERT_EQ(stream.nextPart(), 4);
  InflateStream files(stream.streamBuffer());
  EXPECT_LT(readAll(files).size(), 5000u);
  EXPECT_EQ(stream.remaining(), 0u);
  ASSERT_EQ(stream.nextPart(), 23);
  EXPECT_EQ(stream.remaining(), compressed.size() - 40);
}

TEST(InflateStream, OneBytePutsBackOverARefill) {
  std::string text = sampleText(30000);
  OpenPart part(filesPart(deflateBytes(text)));
  InflateStream files(part.stream.streamBuffer());
  size_t read = 0;
  do {
    ASSERT_EQ(files.get(), static_cast<unsigned char>(text[read]));
    ++read;
  } while (files.rdbuf()->in_avail() > 0);
  ASSERT_EQ(files.get(), static_cast<unsigned char>(text[read]));  // refills
  ++read;
  EXPECT_TRUE(files.unget());
  EXPECT_TRUE(files.unget()) << "the byte before the refill";
  EXPECT_FALSE(files.unget());
  files.clear();
  EXPECT_EQ(readAll(files), text.substr(read - 2));
}

TEST(InflateStream, SkipsForwardOnly) {
  std::string text = sampleText(10000);
  OpenPart part(filesPart(deflateBytes(text)));
  InflateStream files(part.stream.streamBuffer());
  EXPECT_EQ(files.tellg(), 0);
  ASSERT_TRUE(files.seekg(5000, std::ios_base::cur));
  EXPECT_EQ(files.tellg(), 5000);
  EXPECT_EQ(files.get(), static_cast<unsigned char>(text[5000]));
  EXPECT_FALSE(files.seekg(-1, std::ios_base::cur));
  files.clear();
  EXPECT_FALSE(files.seekg(0, std::ios_base::end));
  files.clear();
  EXPECT_FALSE(files.seekg(10)) << "no absolute seeks";
  files.clear();
  EXPECT_FALSE(files.seekg(5000, std::ios_base::cur)) << "only 4999 bytes are left";
}

// A source that hands out one byte per read, like a slow pipe.
class TricklingBuf : public std::stringbuf {
 public:
  explicit TricklingBuf(const std::string& bytes) : std::stringbuf(bytes) {}

 protected:
  std::streamsize xsgetn(char* bytes, std::streamsize n) override {
    return std::stringbuf::xsgetn(bytes, n < 1 ? n : 1);
  }
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
};

TEST(InflateStream, InputArrivingInSmallPiecesStillInflates) {
  std::string text = sampleText(9000);
  TricklingBuf source(filesPart(deflateBytes(text)));
  std::istream input(&source);
  PackageStream stream(input, true, nullptr);
  stream.wantedTypes = {Files};
  ASSERT_EQ(stream.nextPart(), 4);
  InflateStream files(stream.streamBuffer());
  EXPECT_TRUE(readAll(files) == text);
}

// A zlib stream that opens with `emptyBlocks` empty stored blocks: input
// that inflates to nothing, as a stream built with many flushes has.
std::string zlibWithEmptyBlocks(const std::string& text, int emptyBlocks) {
  std::string out = "\x78\x01";
  for (int i = 0; i < emptyBlocks; ++i) out += std::string("\x00\x00\x00\xFF\xFF", 5);
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string raw(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(&raw[0]);
  z.avail_out = static_cast<uInt>(raw.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  raw.resize(raw.size() - z.avail_out);
  deflateEnd(&z);
  uLong check = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()),
                        static_cast<uInt>(text.size()));
  for (int shift = 24; shift >= 0; shift -= 8) raw += static_cast<char>((check >> shift) & 0xFF);
  return out + raw;
}

TEST(InflateStream, InputThatInflatesToNothingIsFollowedByMoreInput) {
  std::string text = sampleText(3000);
  OpenPart part(filesPart(zlibWithEmptyBlocks(text, 2000)));
  InflateStream files(part.stream.streamBuffer());
  EXPECT_TRUE(readAll(files) == text);
  EXPECT_EQ(files.produced(), 3000u);
}

}  // namespace
