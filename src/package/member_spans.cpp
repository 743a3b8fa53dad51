#include "package/member_spans.h"

#include "package/package_format.h"

namespace installer {

void MemberSpans::partEnds(uint32_t offset) {
  if (state == State::Starting) {
    state = State::Between;
  } else if (state == State::InMember && closing) {
    closeSpan(offset);
  }
}

void MemberSpans::partBegins(uint16_t type, uint32_t length, const uint8_t* header, uint32_t headerOffset,
                             const Digest* sha256PackageDigest) {
  if (state != State::Between && state != State::InMember) return;
  if (type == PackageHeader) {
    openSpan(headerOffset, sha256PackageDigest);
    if (feeding) digest.update(header, PartHeaderSize);
    return;
  }
  if (state == State::Between) {
    outside += PartHeaderSize + uint64_t{length};
    outsideOnlyEmptyDigestSelect = outsideOnlyEmptyDigestSelect && type == DigestSelect && length == 0;
    return;
  }
  if (feeding) digest.update(header, PartHeaderSize);
  if (type != Signature) return;
  closing = true;
  if (forked) {
    // The package digest has run since the part-1 header and just took
    // this header: the span goes on from its state. (It is SHA-256 still:
    // nothing switches a digest back. Were it not, the span would hold the
    // signature bytes alone and match no row.)
    if (sha256PackageDigest != nullptr) digest.copyFrom(*sha256PackageDigest);
    feeding = true;
  }
}

void MemberSpans::openSpan(uint32_t headerOffset, const Digest* sha256PackageDigest) {
  // A span still open had no part 9: the member it belonged to was never
  // complete, so the new one does not follow a member cleanly.
  bool afterOpenSpan = state == State::InMember;
  precededCleanly = !afterOpenSpan && (outside == 0 || (outside == PartHeaderSize && outsideOnlyEmptyDigestSelect));
  uint8_t discarded[32];
  digest.finish(discarded);  // starts afresh
  state = State::InMember;
  spanStart = headerOffset;
  closing = false;
  forked = sha256PackageDigest != nullptr;
  feeding = !forked;
}

void MemberSpans::closeSpan(uint32_t endOffset) {
  digest.finish(lastSpan.sha256);
  lastSpan.length = endOffset - spanStart;
  lastSpan.cleanlyPreceded = precededCleanly;
  ++closedCount;
  state = State::Between;
  feeding = false;  // what follows is only counted
  outside = 0;
  outsideOnlyEmptyDigestSelect = true;
}

}  // namespace installer
