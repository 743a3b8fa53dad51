#include "package/stream_end.h"

#include "package/package_stream.h"

bool endedAtDeclaredLength(const PackageStream& stream) {
  // At the end, payloadOffset has moved past the last complete part: it is
  // the number of bytes the parts took, file header included.
  return stream.payloadOffset() == stream.totalSize && stream.trailingBytes() == 0;
}
