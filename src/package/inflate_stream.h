// InflateStream: the inflated bytes of a package's part 4.
//
// The files of a package travel as one zlib stream in part 4. The buffer
// takes compressed bytes from the PackageStreamBuf (so they are digested
// and copied as they pass, and never read past the part) and inflates them
// into a 4096-byte get area, with a 16-byte put-back area in front that
// keeps the last consumed byte across a refill. Corrupt or truncated data
// reads as end-of-file; the caller decides what a short read means.
// A read that asks for a whole get area or more inflates straight into the
// caller's memory, 4096 bytes a call as refills would (so a damaged stream
// ends at the same byte), which saves a copy of all file data; the last
// byte read then stays in the put-back area. The library that inflates is
// the Inflater of the source's backend (inflater.h).
//
// Only relative forward seeks are supported: they inflate and discard the
// bytes passed over, which is how unwanted file data is skipped.
//
// Ownership: the PackageStreamBuf belongs to the caller and must outlive
// the buffer; InflateStream owns its InflateStreamBuf.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>

#include "package/inflater.h"
#include "package/package_stream.h"

namespace installer {

class InflateStreamBuf : public std::streambuf {
 public:
  explicit InflateStreamBuf(PackageStreamBuf* source);
  ~InflateStreamBuf() override;
  InflateStreamBuf(const InflateStreamBuf&) = delete;
  InflateStreamBuf& operator=(const InflateStreamBuf&) = delete;

  uint64_t produced = 0;  // inflated bytes produced so far (64 bits: payloads may pass 4 GiB)

  static constexpr size_t PutBackSize = 16;
  static constexpr size_t OutputSize = 4096;
  static constexpr size_t InputSize = 4096;
  static constexpr size_t SkipChunkSize = 1024;

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* bytes, std::streamsize n) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;

 private:
  // Inflates into `out` until some bytes appear there; 0 at the end of the
  // stream, on corrupt data or when the source runs dry.
  size_t inflateSome(char* out, size_t size);

  PackageStreamBuf* source;
  std::unique_ptr<Inflater> inflater;
  bool ready = true;  // the stream has neither ended nor failed
  char area[PutBackSize + OutputSize];
  unsigned char input[InputSize];
};

class InflateStream : public std::istream {
 public:
  explicit InflateStream(PackageStreamBuf* source);
  ~InflateStream() override;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  uint64_t produced() const { return buffer->produced; }

 private:
  std::unique_ptr<InflateStreamBuf> buffer;
};

}  // namespace installer
