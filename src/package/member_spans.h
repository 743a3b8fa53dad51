// MemberSpans: each member of a bundle hashed as it streams, so that it
// can be checked against its row of the bundle's member table
// (member_table.h) without holding any of it.
//
// Once started (at the bundle signature part that vouches for a member
// table), the spans follow the PackageStream as it reads on. A span opens
// at a member's part-1 header and closes at the last byte of the first
// part 9 after it; the next part 1 opens the next span. Bytes between spans are
// only counted, and whether they were anything but one empty part 25 (the
// digest switch that a SHA-256 member carries before its part 1) is noted.
//
// Cost: a member read with a SHA-256 package digest is hashed once. That
// digest already runs from the part-1 header through the part-9 header, so
// at the part-9 header the span's digest takes over its state and is fed
// only the signature bytes after it. A member read with SHA-1 gets a
// SHA-256 of its own beside it.
//
// The PackageStreamBuf owns one and calls the feeding functions; callers
// read the results through PackageStream::memberSpans().
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/crypto.h"

namespace installer {

class MemberSpans {
 public:
  struct Span {
    uint32_t length = 0;  // from the part-1 header through the end of the part 9
    uint8_t sha256[32] = {};
    // Nothing, or one empty part 25, stood between the previous span (or
    // the start of the spans) and this span's part 1.
    bool cleanlyPreceded = false;
  };

  MemberSpans() : digest(Digest::Sha256) {}
  MemberSpans(const MemberSpans&) = delete;
  MemberSpans& operator=(const MemberSpans&) = delete;

  // Spans are counted from the end of the current part on.
  void start() { state = State::Starting; }
  bool started() const { return state != State::Off; }
  // The number of spans closed so far, and the last of them.
  uint32_t closed() const { return closedCount; }
  const Span& last() const { return lastSpan; }
  // Whether a span is open: a part 1 was read and its part 9 not finished.
  bool open() const { return state == State::InMember; }
  // Bytes read since the last span closed (or the spans started), outside
  // any span; counted wide, so that no part is long enough to wrap it.
  uint64_t bytesOutside() const { return outside; }

  // Fed by the stream buffer. The current part is complete; the next part
  // header, if any, starts at file offset `offset`.
  void partEnds(uint32_t offset);
  // A part header was read at file offset `headerOffset`, after the package
  // digest took it. `sha256PackageDigest` is that digest when it is SHA-256.
  void partBegins(uint16_t type, uint32_t length, const uint8_t* header, uint32_t headerOffset,
                  const Digest* sha256PackageDigest);
  // Payload bytes of the current part, each once.
  void payload(const uint8_t* bytes, size_t n) {
    if (feeding) digest.update(bytes, n);
  }
  // Bytes of a part header that the end of the stream cut short.
  void strayBytes(size_t n) { outside += n; }

 private:
  enum class State { Off, Starting, Between, InMember };

  void openSpan(uint32_t headerOffset, const Digest* sha256PackageDigest);
  void closeSpan(uint32_t endOffset);

  State state = State::Off;
  Digest digest;
  bool feeding = false;  // the span's digest takes the bytes as they come
  bool forked = false;   // the span's digest is to take over the package digest's state at part 9
  bool closing = false;  // the current part is the span's part 9
  bool precededCleanly = false;
  uint32_t spanStart = 0;
  uint64_t outside = 0;
  bool outsideOnlyEmptyDigestSelect = true;
  uint32_t closedCount = 0;
  Span lastSpan;
};

}  // namespace installer
