#include "package/inflate_stream.h"

#include <gtest/gtest.h>

#include <iterator>

#include "support/package_streams.h"

namespace installer {
namespace {

// Counting past 4 GiB of inflated data must not wrap.
static_assert(std::is_same<decltype(std::declval<InflateStream>().produced()), uint64_t>::value, "64-bit count");

// 100000 bytes with marks where the tests look: at the first refill and 5904 bytes before the end.
const std::string text = std::string(4095, 'a') + "bc" + std::string(89998, 'd') + "e" + std::string(5904, 'f');

// What a part 4 of `payload` inflates to: all of `text`, its start, less or
// nothing. The part 23 behind it must stay unread.
std::string inflate(const std::string& payload) {
  PackageWriter writer;
  writer.addPart(Files, payload);
  writer.addPart(Note, "after");
  OpenedStream opened(writer.bytes(), {Files, Note});
  InflateStream files(opened.stream.streamBuffer());
  std::string out{std::istreambuf_iterator<char>(files), std::istreambuf_iterator<char>()};
  EXPECT_TRUE(files.produced() == out.size() && opened.stream.nextPart() == Note && opened.stream.remaining() == 5);
  bool start = out.size() < text.size() && text.compare(0, out.size(), out) == 0;
  return out == text ? "all" : out.empty() ? "nothing" : start ? "start" : "less";
}

TEST(InflateStream, InflatesItsPartAlone) {
  std::string compressed = deflateBytes(text), padded = compressed.substr(0, 2);
  for (int i = 0; i < 2000; ++i) padded += std::string("\0\0\0\xFF\xFF", 5);  // empty stored blocks: inflate to nothing
  EXPECT_EQ(inflate(compressed), "all");
  EXPECT_EQ(inflate(padded + compressed.substr(2)), "all");
  EXPECT_EQ(inflate(compressed.substr(0, compressed.size() / 2)), "start");
  for (const std::string& none : {std::string(), deflateBytes(""), std::string("junk")}) {
    EXPECT_EQ(inflate(none), "nothing");
  }
  // One byte can be put back over a refill; skips go forward only.
  PackageWriter writer;
  writer.addPart(Files, compressed);
  OpenedStream opened(writer.bytes(), {Files});
  InflateStream files(opened.stream.streamBuffer());
  const std::string refill = std::to_string(InflateStreamBuf::OutputSize - 1);  // the last byte before the first refill
  EXPECT_EQ(runScript(files, opened.stream, "s+" + refill + " t g g u u u k s-1 k s0 k s+90000 g s+5905"),
            " ok " + refill + " " + text[4095] + " " + text[4096] + " ok ok failed failed failed ok " + text[94095] +
                " failed");
}

}  // namespace
}  // namespace installer
