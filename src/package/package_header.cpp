#include "package/package_header.h"

#include <algorithm>

#include "model/installer_files.h"
#include "package/package_format.h"

namespace installer {

namespace {

constexpr char defaultArchitecture[] = "i386";
constexpr size_t textChunkSize = 4096;

bool hasForbiddenByte(const std::string& name) {
  for (unsigned char c : name) {
    if (c <= 0x20 || c == 0x7F || c == '/') return true;
  }
  return false;
}

bool readBytes(PackageStream& stream, uint8_t* bytes, size_t n) {
  return static_cast<bool>(stream.read(reinterpret_cast<char*>(bytes), std::streamsize(n)));
}

// Reads the current part's payload as text, chunk by chunk, so that a
// length field that lies costs no memory. False only when the part is too
// long to be a header text; a short read keeps what arrived and leaves the
// stream failed.
bool readText(PackageStream& stream, std::string& text) {
  if (stream.partLength() > MaxHeaderTextLength) return false;
  text.clear();
  char chunk[textChunkSize];
  while (stream.remaining() != 0) {
    size_t wanted = std::min<size_t>(stream.remaining(), sizeof chunk);
    stream.read(chunk, std::streamsize(wanted));
    text.append(chunk, static_cast<size_t>(stream.gcount()));
    if (!stream) break;
  }
  return true;
}

// When the current part has `type`, reads it as text into `text` and moves
// on. False when the text is unacceptable.
bool takeText(PackageStream& stream, PartType type, std::string& text) {
  if (stream.currentType != static_cast<int32_t>(type)) return true;
  if (!readText(stream, text)) return false;
  stream.nextPart();
  return true;
}

// When the current part has `type`, reads it as a dependency list and
// moves on. False when the list cannot be read.
bool takeList(PackageStream& stream, PartType type, std::vector<DependencyRef>& list) {
  if (stream.currentType != static_cast<int32_t>(type)) return true;
  if (!readDependencyList(stream, list)) return false;
  stream.nextPart();
  return true;
}

// Parses the header record of the current part; false when it is short or
// names an unacceptable package.
bool readHeaderRecord(PackageInfo& record, PackageStream& stream) {
  uint8_t bytes[HeaderRecordWithFlagsSize];
  if (!readBytes(stream, bytes, HeaderRecordSize)) return false;
  std::string name = decodeNameField(bytes);
  if (!isAcceptablePackageName(name)) return false;
  record.name = name;
  record.version = decodeLE32(bytes + HeaderVersionOffset);
  record.buildTime = decodeLE32(bytes + HeaderBuildTimeOffset);
  record.headerFlags = 0;
  if (readBytes(stream, bytes + HeaderFlagsOffset, 4)) {
    record.headerFlags = decodeLE32(bytes + HeaderFlagsOffset);
  } else {
    stream.clear();  // a 32-byte record simply has no flags
  }
  return true;
}

}  // namespace

bool isAcceptablePackageName(const std::string& name) {
  // A package named like the installer's own files would have its database
  // directory where they are.
  return !name.empty() && name != "." && name != ".." && !hasForbiddenByte(name) && !isInstallerOwnPackageName(name);
}

bool isAcceptableReferenceName(const std::string& name) { return !name.empty() && !hasForbiddenByte(name); }

bool readPackageHeader(PackageInfo& record, PackageStream& stream) {
  int32_t type = stream.currentType;
  if (type != PackageHeader && type != BundleHeader) return false;
  if (!readHeaderRecord(record, stream)) return false;
  record.isBundle = type == BundleHeader;
  stream.nextPart();
  if (!takeText(stream, Text24, record.text24)) return false;
  if (stream.currentType == Architecture) {
    if (!takeText(stream, Architecture, record.architecture)) return false;
  } else {
    record.architecture = defaultArchitecture;
  }
  if (!takeText(stream, Text2, record.text2) || !takeText(stream, Note, record.note)) return false;
  if (!takeList(stream, Dependencies, record.deps) || !takeList(stream, Provides, record.provides) ||
      !takeList(stream, Conflicts, record.conflicts)) {
    return false;
  }
  if (stream.currentType == SquashfsImage) record.bootImageFlag = true;
  return true;
}

bool readDependencyList(PackageStream& stream, std::vector<DependencyRef>& list) {
  uint8_t countBytes[2];
  if (!readBytes(stream, countBytes, sizeof countBytes)) return false;
  uint16_t count = decodeLE16(countBytes);
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t bytes[DependencyRecordSize];
    if (!readBytes(stream, bytes, sizeof bytes)) return false;
    DependencyRef ref;
    ref.name = decodeNameField(bytes);
    if (!isAcceptableReferenceName(ref.name)) return false;
    ref.min = decodeLE32(bytes + DependencyMinOffset);
    ref.max = decodeLE32(bytes + DependencyMaxOffset);
    ref.priority = static_cast<int32_t>(decodeLE32(bytes + DependencyPriorityOffset));
    list.push_back(ref);
  }
  return true;
}

}  // namespace installer
