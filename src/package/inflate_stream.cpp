#include "package/inflate_stream.h"

#include <zlib.h>

#include <algorithm>

namespace installer {

InflateStreamBuf::InflateStreamBuf(PackageStreamBuf* sourceBuffer) : source(sourceBuffer), zlib(new z_stream_s()) {
  zlib->next_in = input;
  zlib->avail_in = 0;
  ready = inflateInit(zlib.get()) == Z_OK;
  char* start = area + PutBackSize;
  setg(start, start, start);
}

InflateStreamBuf::~InflateStreamBuf() {
  // inflateEnd is safe after a failed inflateInit too.
  inflateEnd(zlib.get());
}

size_t InflateStreamBuf::inflateSome() {
  while (ready) {
    if (zlib->avail_in == 0) {
      std::streamsize got = source->sgetn(reinterpret_cast<char*>(input), InputSize);
      if (got <= 0) return 0;
      zlib->next_in = input;
      zlib->avail_in = static_cast<uInt>(got);
    }
    zlib->next_out = reinterpret_cast<Bytef*>(area + PutBackSize);
    zlib->avail_out = OutputSize;
    int result = inflate(zlib.get(), Z_PARTIAL_FLUSH);
    size_t made = OutputSize - zlib->avail_out;
    if (result == Z_STREAM_END) ready = false;
    if (result != Z_OK && result != Z_STREAM_END) {
      ready = false;
      return 0;
    }
    // Z_OK without output only means zlib wants more input.
    if (made != 0) return made;
  }
  return 0;
}

InflateStreamBuf::int_type InflateStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  char* start = area + PutBackSize;
  // Keep the last byte read, so that one byte can be put back over a refill.
  bool saved = gptr() > start;
  if (saved) start[-1] = gptr()[-1];
  size_t made = inflateSome();
  if (made == 0) return traits_type::eof();
  produced += static_cast<uint64_t>(made);
  setg(saved ? start - 1 : start, start, start + made);
  return traits_type::to_int_type(*gptr());
}

InflateStreamBuf::pos_type InflateStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                     std::ios_base::openmode which) {
  if ((which & std::ios_base::in) == 0 || direction != std::ios_base::cur || offset < 0) return pos_type(-1);
  char scratch[SkipChunkSize];
  while (offset > 0) {
    std::streamsize chunk = std::min<off_type>(offset, SkipChunkSize);
    if (sgetn(scratch, chunk) != chunk) return pos_type(-1);
    offset -= chunk;
  }
  return pos_type(off_type(produced) - (egptr() - gptr()));
}

InflateStream::InflateStream(PackageStreamBuf* source)
    : std::istream(nullptr), buffer(new InflateStreamBuf(source)) {
  rdbuf(buffer.get());
}

InflateStream::~InflateStream() = default;

}  // namespace installer
