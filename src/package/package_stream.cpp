#include "package/package_stream.h"

#include <algorithm>
#include <cstring>

namespace installer {

namespace {

constexpr uint32_t skipChunkSize = 16384;

// Stands in for a source stream without a buffer, which reads as empty.
class EmptyBuf : public std::streambuf {};

std::streambuf* emptySource() {
  static EmptyBuf empty;
  return &empty;
}

// Reads until n bytes or the end of the source: a source may hand out
// fewer bytes per call (a pipe, a socket) without having ended.
std::streamsize readFully(std::streambuf* source, char* bytes, std::streamsize n) {
  std::streamsize total = 0;
  while (total < n) {
    std::streamsize got = source->sgetn(bytes + total, n - total);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

}  // namespace

PackageStreamBuf::PackageStreamBuf(std::streambuf* sourceBuffer, bool hashingOn, std::streambuf* sink)
    : source(sourceBuffer != nullptr ? sourceBuffer : emptySource()),
      copySink(sink),
      sha1(Digest::Sha1),
      sha256(Digest::Sha256),
      currentDigest(&sha1),
      hashing(hashingOn),
      headDigest(Digest::Sha256),
      headRunning(hashingOn) {}

void PackageStreamBuf::copyOut(const uint8_t* bytes, size_t n) {
  if (copySink != nullptr && n != 0) copySink->sputn(reinterpret_cast<const char*>(bytes), std::streamsize(n));
}

void PackageStreamBuf::consumed(const uint8_t* bytes, size_t n, bool digest) {
  size_t seen = std::min<size_t>(pushedBack, n);
  pushedBack -= static_cast<uint32_t>(seen);
  bytes += seen;
  n -= seen;
  if (n == 0) return;
  if (headRunning) headDigest.update(bytes, n);
  if (hashing && digest) currentDigest->update(bytes, n);
  spans.payload(bytes, n);
  copyOut(bytes, n);
}

bool PackageStreamBuf::readFileHeader(uint8_t header[8]) {
  std::streamsize got = readFully(source, reinterpret_cast<char*>(header), FileHeaderSize);
  if (got > 0) copyOut(header, static_cast<size_t>(got));
  if (got > 0 && headRunning) headDigest.update(header, static_cast<size_t>(got));
  payloadOffset = FileHeaderSize;
  return got == std::streamsize(FileHeaderSize);
}

uint32_t PackageStreamBuf::readThrough(uint32_t n) {
  char scratch[skipChunkSize];
  uint32_t total = 0;
  while (total < n) {
    uint32_t chunk = std::min(n - total, skipChunkSize);
    std::streamsize got = readFully(source, scratch, chunk);
    if (got > 0) {
      remaining -= static_cast<uint32_t>(got);
      total += static_cast<uint32_t>(got);
      consumed(reinterpret_cast<uint8_t*>(scratch), static_cast<size_t>(got), true);
    }
    if (got < std::streamsize(chunk)) break;
  }
  return total;
}

bool PackageStreamBuf::skipPayload() {
  if (remaining == 0) return true;
  // Without digest or copy nobody needs the bytes: a seek is enough, where
  // the source can seek (standard input usually cannot).
  if (canSeekSource() && source->pubseekoff(remaining, std::ios_base::cur, std::ios_base::in) != pos_type(-1)) {
    remaining = 0;
    return true;
  }
  readThrough(remaining);
  return remaining == 0;
}

bool PackageStreamBuf::readPartHeader(uint16_t& type, uint32_t& length) {
  payloadOffset += partLength;
  partLength = remaining = 0;
  spans.partEnds(payloadOffset);
  uint8_t header[PartHeaderSize];
  std::streamsize got = readFully(source, reinterpret_cast<char*>(header), PartHeaderSize);
  if (got > 0) copyOut(header, static_cast<size_t>(got));
  if (got != std::streamsize(PartHeaderSize)) {
    trailingBytes = got > 0 ? static_cast<uint32_t>(got) : 0;
    spans.strayBytes(trailingBytes);
    finishDigest();
    return false;
  }
  type = decodeLE16(header);
  length = decodeLE32(header + 2);
  if (type == PackageHeader) ++packagesStarted;
  if (headRunning && (type == PackageHeader || type == BundleSignature)) stopHead();
  if (headRunning) headDigest.update(header, PartHeaderSize);
  if (hashing) {
    if (type == DigestSelect) {
      currentDigest = &sha256;
    } else if (type == PackageHeader) {
      finishDigest();
    }
    currentDigest->update(header, PartHeaderSize);
    spans.partBegins(type, length, header, payloadOffset, currentDigest == &sha256 ? &sha256 : nullptr);
  }
  payloadOffset += PartHeaderSize;
  partLength = remaining = length;
  return true;
}

void PackageStreamBuf::finishDigest() {
  std::memset(digestResult, 0, sizeof digestResult);
  currentDigest->finish(digestResult);
}

void PackageStreamBuf::stopHead() {
  headDigest.finish(headResult);
  headRunning = false;
  // payloadOffset stands at the header of the part that stopped it.
  headLength = payloadOffset;
}

size_t PackageStreamBuf::readRaw(uint8_t* bytes, size_t n) {
  n = std::min<size_t>(n, remaining);
  if (n == 0) return 0;
  std::streamsize got = readFully(source, reinterpret_cast<char*>(bytes), std::streamsize(n));
  if (got <= 0) return 0;
  remaining -= static_cast<uint32_t>(got);
  consumed(bytes, static_cast<size_t>(got), false);
  return static_cast<size_t>(got);
}

PackageStreamBuf::int_type PackageStreamBuf::underflow() {
  if (remaining == 0) return traits_type::eof();
  return source->sgetc();
}

PackageStreamBuf::int_type PackageStreamBuf::uflow() {
  if (remaining == 0) return traits_type::eof();
  int_type c = source->sbumpc();
  if (traits_type::eq_int_type(c, traits_type::eof())) return c;
  --remaining;
  uint8_t byte = static_cast<uint8_t>(traits_type::to_char_type(c));
  consumed(&byte, 1, true);
  return c;
}

std::streamsize PackageStreamBuf::xsgetn(char* bytes, std::streamsize n) {
  std::streamsize wanted = std::min<std::streamsize>(n, remaining);
  if (wanted <= 0) return 0;
  std::streamsize got = readFully(source, bytes, wanted);
  if (got <= 0) return 0;
  remaining -= static_cast<uint32_t>(got);
  consumed(reinterpret_cast<uint8_t*>(bytes), static_cast<size_t>(got), true);
  return got;
}

std::streamsize PackageStreamBuf::showmanyc() {
  std::streamsize available = source->in_avail();
  return std::min<std::streamsize>(available, remaining);
}

PackageStreamBuf::int_type PackageStreamBuf::pbackfail(int_type c) {
  if (remaining >= partLength) return traits_type::eof();
  int_type result = traits_type::eq_int_type(c, traits_type::eof()) ? source->sungetc()
                                                                    : source->sputbackc(traits_type::to_char_type(c));
  if (traits_type::eq_int_type(result, traits_type::eof())) return result;
  ++remaining;
  if (hashing || copySink != nullptr) ++pushedBack;
  return result;
}

PackageStreamBuf::pos_type PackageStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                     std::ios_base::openmode which) {
  if ((which & std::ios_base::in) == 0) return pos_type(-1);
  off_type current = off_type(partLength) - off_type(remaining);
  off_type target = offset;
  if (direction == std::ios_base::cur) {
    target = current + offset;
  } else if (direction == std::ios_base::end) {
    target = off_type(partLength) - offset;
  }
  return seekpos(pos_type(target), which);
}

PackageStreamBuf::pos_type PackageStreamBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  off_type target = off_type(position);
  off_type current = off_type(partLength) - off_type(remaining);
  if ((which & std::ios_base::in) == 0 || target < 0 || target > off_type(partLength)) return pos_type(-1);
  if (target == current) return position;
  if (canSeekSource() &&
      source->pubseekpos(pos_type(off_type(payloadOffset) + target), std::ios_base::in) != pos_type(-1)) {
    remaining = partLength - static_cast<uint32_t>(target);
    return position;
  }
  // With digest or copy every byte must pass in order: forward only.
  if (target < current) return pos_type(-1);
  uint32_t wanted = static_cast<uint32_t>(target - current);
  if (readThrough(wanted) != wanted) return pos_type(-1);
  return position;
}

PackageStream::PackageStream(std::istream& source, bool hashing, std::streambuf* copySink)
    : std::istream(nullptr), buffer(new PackageStreamBuf(source.rdbuf(), hashing, copySink)) {
  rdbuf(buffer.get());
  uint8_t header[FileHeaderSize];
  if (!buffer->readFileHeader(header)) {
    magic = MissingMagic;
    setstate(std::ios_base::badbit);
    return;
  }
  headerComplete = true;
  magic = decodeLE32(header);
  lengthField = decodeLE32(header + 4);
  totalSize = lengthField + static_cast<uint32_t>(FileHeaderSize);
  if (magic != PackageMagic && magic != UnrecordedPackageMagic) setstate(std::ios_base::badbit);
}

PackageStream::~PackageStream() = default;

bool PackageStream::wants(uint16_t type) const {
  if (everyPart) return true;
  if (type == DigestSelect) return false;
  return std::find(wantedTypes.begin(), wantedTypes.end(), uint32_t{type}) != wantedTypes.end();
}

int32_t PackageStream::nextPart() {
  if (fail()) {
    currentType = -1;
    return -1;
  }
  clear(rdstate() & ~std::ios_base::eofbit);
  for (;;) {
    uint16_t type = 0;
    uint32_t length = 0;
    if (!buffer->skipPayload() || !buffer->readPartHeader(type, length)) {
      currentType = -1;
      setstate(std::ios_base::eofbit | std::ios_base::failbit);
      return -1;
    }
    if (wants(type)) {
      currentType = type;
      return currentType;
    }
  }
}

}  // namespace installer
