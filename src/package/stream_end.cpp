#include "package/stream_end.h"

#include "package/package_stream.h"

namespace installer {

bool endedAtDeclaredLength(const PackageStream& stream) {
  // At the end, payloadOffset has moved past the last complete part: it is
  // the number of bytes the parts took, file header included. A payload
  // that the source cut short leaves bytes unread and the offset at that
  // payload's start, which would hide the bytes that did arrive.
  return stream.remaining() == 0 && stream.payloadOffset() == stream.totalSize && stream.trailingBytes() == 0;
}

}  // namespace installer
