#include "part_list.h"

#include "package/package_format.h"
#include "package/package_stream.h"

namespace installer {

uint64_t FilePart::end() const { return offset + PartHeaderSize + uint64_t{length}; }

PartList listFileParts(std::istream& in) {
  PartList list;
  PackageStream stream(in, false, nullptr);
  if (!stream.headerComplete) return list;
  list.headerComplete = true;
  list.magic = stream.magic;
  list.lengthField = stream.lengthField;
  // The stream refuses a file with a magic of no package file; its parts
  // are listed all the same.
  stream.clear();
  stream.everyPart = true;
  for (int32_t type = stream.nextPart(); type != -1; type = stream.nextPart()) {
    list.parts.push_back({stream.payloadOffset() - PartHeaderSize, static_cast<uint16_t>(type), stream.partLength()});
  }
  return list;
}

}  // namespace installer
