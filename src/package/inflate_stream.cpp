#include "package/inflate_stream.h"

#include <algorithm>

namespace installer {

InflateStreamBuf::InflateStreamBuf(PackageStreamBuf* sourceBuffer)
    : source(sourceBuffer), inflater(sourceBuffer->inflateBackend->make()) {
  char* start = area + PutBackSize;
  setg(start, start, start);
}

InflateStreamBuf::~InflateStreamBuf() = default;

size_t InflateStreamBuf::inflateSome(char* out, size_t size) {
  while (ready) {
    bool fed = false;
    if (inflater->inputLeft() == 0) {
      std::streamsize got = source->sgetn(reinterpret_cast<char*>(input), InputSize);
      if (got > 0) inflater->feed(input, static_cast<size_t>(got));
      fed = got > 0;
    }
    size_t before = inflater->inputLeft(), made = 0;
    InflateStatus status = inflater->inflate(reinterpret_cast<uint8_t*>(out), size, made);
    if (status == InflateStatus::Failed) {
      ready = false;
      return 0;
    }
    if (status == InflateStatus::End) ready = false;
    if (made != 0) return made;
    // Nothing made, nothing taken and nothing new to take: the source ran dry.
    if (!fed && inflater->inputLeft() == before) return 0;
  }
  return 0;
}

InflateStreamBuf::int_type InflateStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  char* start = area + PutBackSize;
  // Keep the last byte read, so that one byte can be put back over a refill.
  bool saved = gptr() > eback();
  if (gptr() > start) start[-1] = gptr()[-1];
  size_t made = inflateSome(start, OutputSize);
  if (made == 0) return traits_type::eof();
  produced += static_cast<uint64_t>(made);
  setg(saved ? start - 1 : start, start, start + made);
  return traits_type::to_int_type(*gptr());
}

std::streamsize InflateStreamBuf::xsgetn(char* bytes, std::streamsize n) {
  std::streamsize done = std::min<std::streamsize>(n, egptr() - gptr());
  std::copy(gptr(), gptr() + done, bytes);
  gbump(static_cast<int>(done));
  // Whole get areas go to the caller directly: the same inflate calls as
  // refills would make (so a damaged stream ends at the same byte), without
  // the copy.
  bool direct = false;
  while (n - done >= static_cast<std::streamsize>(OutputSize)) {
    size_t made = inflateSome(bytes + done, OutputSize);
    if (made == 0) break;
    produced += static_cast<uint64_t>(made);
    done += static_cast<std::streamsize>(made);
    direct = true;
  }
  if (direct) {
    // As after a refill: the last byte read stays behind for a put-back.
    char* start = area + PutBackSize;
    start[-1] = bytes[done - 1];
    setg(start - 1, start, start);
  }
  return done + std::streambuf::xsgetn(bytes + done, n - done);
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

InflateStream::InflateStream(PackageStreamBuf* source) : std::istream(nullptr), buffer(new InflateStreamBuf(source)) {
  rdbuf(buffer.get());
}

InflateStream::~InflateStream() = default;

}  // namespace installer
