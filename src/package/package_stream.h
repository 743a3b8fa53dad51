// PackageStream: reads a package file one typed part at a time.
//
// The stream never reads past the end of the current part: the standard
// istream operations (read, get, peek, seekg, tellg, putback) act on the
// current part's payload, and reading past its end gives end-of-file.
// `nextPart` skips to the next part whose type is wanted (or to the next
// part at all, for a tool that shows a file's structure: `everyPart`).
//
// While reading, the buffer optionally feeds every byte after the file
// header to a running digest (SHA-1, or SHA-256 from a part 25 on; a part-1
// header finishes it and starts afresh, so each package of a stream has its
// own digest) and copies every byte it takes from the source, file header
// included, to a copy sink. Skipped parts are digested and copied like read
// ones. A second digest, of the file's head, is described at headDigest;
// a third, of each member of a bundle, at MemberSpans.
// Bytes are never buffered here: they go from the source straight to
// the caller, the digest and the sink, so a stream on standard input is
// digested and copied while it streams in.
//
// Positions are offsets in the current payload. A seek relative to the end
// counts back from the part length (offset 3 is three bytes before the
// end). Without digest and copy, seeks go to the source where it can seek;
// otherwise only forward moves work, by reading the bytes through.
//
// Ownership: the source and the copy sink belong to the caller and must
// outlive the stream; the PackageStream owns its PackageStreamBuf. A stream
// serves one pass over one package file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <vector>

#include "package/inflater.h"
#include "package/member_spans.h"
#include "package/package_format.h"
#include "platform/crypto.h"

namespace installer {

// A stream buffer without a buffer of its own, bounded to the current part.
class PackageStreamBuf : public std::streambuf {
 public:
  PackageStreamBuf(std::streambuf* source, bool hashing, std::streambuf* copySink);
  PackageStreamBuf(const PackageStreamBuf&) = delete;
  PackageStreamBuf& operator=(const PackageStreamBuf&) = delete;

  std::streambuf* const source;
  uint32_t payloadOffset = 0;  // file offset of the current part's payload
  uint32_t partLength = 0;
  uint32_t remaining = 0;    // payload bytes not yet consumed
  std::streambuf* copySink;  // null once the copy is no longer wanted
  Digest sha1;
  Digest sha256;
  Digest* currentDigest;
  const bool hashing;
  // Bytes put back into the source that were digested and copied already;
  // when read again they pass neither the digest nor the sink.
  uint32_t pushedBack = 0;
  uint8_t digestResult[32] = {};
  // With digests on, a SHA-256 of the file from its first byte, file header
  // included, up to the header of the first part 1 or bundle signature part,
  // whichever comes first: what a bundle signature covers. headLength is
  // the number of bytes it covers once it has stopped, 0 while it runs.
  Digest headDigest;
  bool headRunning;
  uint32_t headLength = 0;
  uint8_t headResult[32] = {};
  // Bytes of a part header cut short by the end of the source: bytes after
  // the last complete part, which no part accounts for.
  uint32_t trailingBytes = 0;
  // Part-1 headers met so far: the packages of the stream begun.
  uint32_t packagesStarted = 0;
  // A bundle's members, each hashed as carried, once the reader started
  // them at a bundle signature part that vouches for a member table.
  MemberSpans spans;
  // The library that inflates the files part (inflater.h): the configured
  // one, unless the reader picks another of the build (the tests run each
  // input through every one).
  const InflateBackend* inflateBackend = &inflateBackends().front();

  // Reads the 8-byte file header; false when it is short.
  [[nodiscard]] bool readFileHeader(uint8_t header[8]);
  // Consumes the rest of the current payload; false when the source ends first.
  [[nodiscard]] bool skipPayload();
  // Reads the next part header, moving the offsets past the old payload;
  // false when the source ends first (the digest is then finished).
  [[nodiscard]] bool readPartHeader(uint16_t& type, uint32_t& length);
  void finishDigest();
  void stopHead();
  // Reads up to n bytes of the payload from the source, bypassing the digest.
  size_t readRaw(uint8_t* buffer, size_t n);

 protected:
  int_type underflow() override;
  int_type uflow() override;
  std::streamsize xsgetn(char* buffer, std::streamsize n) override;
  std::streamsize showmanyc() override;
  int_type pbackfail(int_type c) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  // The gate every consumed payload byte passes: pushed-back bytes are let
  // through untouched, the others are digested and copied.
  void consumed(const uint8_t* bytes, size_t n, bool digest);
  void copyOut(const uint8_t* bytes, size_t n);
  // Reads and discards n payload bytes in 16384-byte chunks; returns how
  // many were consumed.
  uint32_t readThrough(uint32_t n);
  bool canSeekSource() const { return !hashing && copySink == nullptr; }
};

class PackageStream : public std::istream {
 public:
  // Reads the file header from `source`. A short header or an unknown magic
  // sets badbit, so the first nextPart() returns -1.
  PackageStream(std::istream& source, bool hashing, std::streambuf* copySink);
  ~PackageStream() override;
  PackageStream(const PackageStream&) = delete;
  PackageStream& operator=(const PackageStream&) = delete;

  std::vector<uint32_t> wantedTypes;  // filled by the caller before nextPart()
  int32_t currentType = -1;           // -1 before the first part, at the end or after a failure
  uint32_t magic = MissingMagic;
  uint32_t totalSize = 0;  // file header length + 8; only scales the progress bar
  // Delivers every part, whatever wantedTypes says, part 25 and types no
  // reader knows included. The installer never sets it; pkgtool lists a
  // file's parts with it.
  bool everyPart = false;
  // The file header as written: whether the source held all 8 bytes of it
  // (a file may carry MissingMagic itself), and its length field.
  bool headerComplete = false;
  uint32_t lengthField = 0;

  // Moves to the next part whose type is wanted and returns its type; -1 at
  // the end of the stream or after a failure (eofbit and failbit set).
  // A part 25 is never delivered, unless everyPart is set.
  int32_t nextPart();

  uint32_t partLength() const { return buffer->partLength; }
  uint32_t payloadOffset() const { return buffer->payloadOffset; }
  uint32_t remaining() const { return buffer->remaining; }
  // After the end: the bytes that followed the last complete part.
  uint32_t trailingBytes() const { return buffer->trailingBytes; }
  // File offset reached: the payload offset plus the position in the part.
  uint64_t position() const { return uint64_t{buffer->payloadOffset} + buffer->partLength - buffer->remaining; }
  // Finishes the running digest into digestResult() and starts it afresh.
  void finishDigest() { buffer->finishDigest(); }
  // 32 bytes; a SHA-1 result fills bytes 0..19 and leaves the rest zero.
  const uint8_t* digestResult() const { return buffer->digestResult; }
  // The SHA-256 of the file before its first part 1 or bundle signature
  // part, and how many bytes it covers (0 while it still runs, and always
  // without digests).
  const uint8_t* headDigest() const { return buffer->headResult; }
  uint32_t headLength() const { return buffer->headLength; }
  bool hashing() const { return buffer->hashing; }
  // Reads up to n bytes of the current payload straight from the source:
  // copied to the sink, not digested. Returns the count read.
  size_t readRaw(uint8_t* bytes, size_t n) { return buffer->readRaw(bytes, n); }
  PackageStreamBuf* streamBuffer() { return buffer.get(); }
  // Which package of the stream is being read: 0 for a stand-alone package
  // or a bundle's first member, 1 for its second, ...
  uint32_t packageIndex() const { return buffer->packagesStarted == 0 ? 0 : buffer->packagesStarted - 1; }
  // From here on nothing more goes to the copy sink.
  void stopCopying() { buffer->copySink = nullptr; }
  // The members of a bundle hashed one by one (member_spans.h).
  MemberSpans& memberSpans() { return buffer->spans; }
  const MemberSpans& memberSpans() const { return buffer->spans; }

 private:
  bool wants(uint16_t type) const;

  std::unique_ptr<PackageStreamBuf> buffer;
};

}  // namespace installer
