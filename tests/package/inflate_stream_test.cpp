#include "package/inflate_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <iterator>

#include "support/package_streams.h"

namespace installer {
namespace {

// Counting past 4 GiB of inflated data must not wrap.
static_assert(std::is_same<decltype(std::declval<InflateStream>().produced()), uint64_t>::value, "64-bit count");

// 100000 bytes with marks where the tests look: at the first refill and 5904 bytes before the end.
const std::string text = std::string(4095, 'a') + "bc" + std::string(89998, 'd') + "e" + std::string(5904, 'f');

// All that a part 4 of `payload` inflates to. The part 23 behind it must stay unread.
std::string inflated(const std::string& payload) {
  PackageWriter writer;
  writer.addPart(Files, payload);
  writer.addPart(Note, "after");
  OpenedStream opened(writer.bytes(), {Files, Note});
  InflateStream files(opened.stream.streamBuffer());
  std::string out{std::istreambuf_iterator<char>(files), std::istreambuf_iterator<char>()};
  EXPECT_EQ(files.produced(), out.size());
  EXPECT_EQ(opened.stream.nextPart(), Note) << "the part after the files was read into";
  EXPECT_EQ(opened.stream.remaining(), 5u);
  return out;
}

// Whether `payload` inflates to all of `text`, its start, less or nothing.
std::string inflate(const std::string& payload) {
  std::string out = inflated(payload);
  bool start = out.size() < text.size() && text.compare(0, out.size(), out) == 0;
  return out == text ? "all" : out.empty() ? "nothing" : start ? "start" : "less";
}

std::string compressed(const std::string& raw, int level) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), level);
  return out.substr(0, size);
}

TEST(InflateStream, InflatesItsPartAlone) {
  forEachInflateBackend([] {
    std::string compressed = deflateBytes(text), padded = compressed.substr(0, 2);
    for (int i = 0; i < 2000; ++i)
      padded += std::string("\0\0\0\xFF\xFF", 5);  // empty stored blocks: inflate to nothing
    EXPECT_EQ(inflate(compressed), "all");
    EXPECT_EQ(inflate(padded + compressed.substr(2)), "all");
    EXPECT_EQ(inflate(compressed.substr(0, compressed.size() / 2)), "start");
    for (const std::string& none : {std::string(), deflateBytes(""), std::string("junk")}) {
      EXPECT_EQ(inflate(none), "nothing");
    }
    // One byte can be put back over a refill, also after a read straight into the caller's memory; skips go
    // forward only.
    PackageWriter writer;
    writer.addPart(Files, compressed);
    OpenedStream opened(writer.bytes(), {Files});
    InflateStream files(opened.stream.streamBuffer());
    const std::string refill =
        std::to_string(InflateStreamBuf::OutputSize - 1);  // the last byte before the first refill
    EXPECT_EQ(runScript(files, opened.stream, "s+" + refill + " t g g u u u k s-1 k s0 k s+90000 g s+5905"),
              " ok " + refill + " " + text[4095] + " " + text[4096] + " ok ok failed failed failed ok " + text[94095] +
                  " failed");
  });
}

TEST(InflateStream, ReadsStraightIntoTheCallerKeepAPutBack) {
  forEachInflateBackend([] {
    PackageWriter writer;
    writer.addPart(Files, deflateBytes(text));
    OpenedStream opened(writer.bytes(), {Files});
    InflateStream files(opened.stream.streamBuffer());
    std::string first(4094, '\0'), second(2 + 8192, '\0');  // the second ends after two whole get areas
    files.read(&first[0], 4094).read(&second[0], 2 + 8192);
    EXPECT_EQ(first + second, text.substr(0, 4094 + 2 + 8192));
    EXPECT_EQ(runScript(files, opened.stream, "u g g t"),
              std::string(" ok ") + text[12287] + " " + text[12288] + " 12289");
  });
}

// Every backend reads an intact stream of any block type to the same bytes, refuses the same headers, and stops
// short on a damaged or cut stream (a damaged checksum may go unseen), after bytes that the others agree with.
TEST(InflateStream, BackendsAgreeOnIntactAndDamagedStreams) {
  std::string raw;
  for (int i = 0; raw.size() < 60000; ++i)
    raw += "line " + std::to_string(i * 7919 % 1000) + (i % 3 ? " text\n" : "\n");
  for (uint32_t x = 1; raw.size() < 90000; x = x * 1103515245 + 12345) raw += static_cast<char>(x >> 16);
  std::vector<std::string> good, damaged, outputs, headers;
  for (int level : {0, 1, 9}) {
    good.push_back(compressed(raw, level));
    const std::string& stream = good.back();
    for (size_t at = 0; at < stream.size(); at += at < 300 ? 7 : 401) {
      damaged.push_back(stream.substr(0, at));
      damaged.push_back(stream);
      damaged.back()[at] = static_cast<char>(damaged.back()[at] ^ (1 << (at % 8)));
    }
  }
  forEachInflateBackend([&] {
    for (const std::string& stream : good) EXPECT_TRUE(inflated(stream) == raw);
    std::string verdicts;  // of headers that pass the check or miss it by one, before a good body
    for (int header = 0; header < 65536; ++header) {
      if (header % 31 > 1) continue;
      std::string out = inflated(std::string{char(header >> 8), char(header)} + compressed("ok", 1).substr(2));
      verdicts += out == "ok" ? '+' : out.empty() ? '-' : '?';
    }
    headers.push_back(verdicts);
    EXPECT_EQ(std::count(verdicts.begin(), verdicts.end(), '+'), 32);  // 8 window sizes, 4 levels
    EXPECT_EQ(verdicts, headers.front());
    for (size_t i = 0; i < damaged.size(); ++i) {
      std::string out = inflated(damaged[i]);
      if (outputs.size() < damaged.size()) outputs.push_back(out);
      size_t common = std::min(out.size(), outputs[i].size());
      EXPECT_EQ(out.compare(0, common, outputs[i], 0, common), 0) << i;
    }
  });
}

}  // namespace
}  // namespace installer
