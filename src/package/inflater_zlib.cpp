#include <zlib.h>

#include "package/inflater.h"

namespace installer {

namespace {

class ZlibInflater : public Inflater {
 public:
  ZlibInflater() { ready = inflateInit(&stream) == Z_OK; }
  ~ZlibInflater() override { inflateEnd(&stream); }  // safe after a failed inflateInit too
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  void feed(const uint8_t* bytes, size_t n) override {
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(n);
  }

  size_t inputLeft() const override { return stream.avail_in; }

  InflateStatus inflate(uint8_t* output, size_t size, size_t& produced) override {
    produced = 0;
    if (!ready) return InflateStatus::Failed;
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(size);
    int result = ::inflate(&stream, Z_PARTIAL_FLUSH);
    produced = size - stream.avail_out;
    if (result == Z_STREAM_END) return InflateStatus::End;
    // Z_BUF_ERROR only says that nothing could be done without more input.
    if (result == Z_OK || result == Z_BUF_ERROR) return InflateStatus::Progress;
    return InflateStatus::Failed;
  }

 private:
  z_stream stream{};
  bool ready = false;
};

}  // namespace

std::unique_ptr<Inflater> newZlibInflater() { return std::make_unique<ZlibInflater>(); }

}  // namespace installer
