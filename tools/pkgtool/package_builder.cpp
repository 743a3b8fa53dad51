#include "package_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "package/bundle_signature.h"
#include "package/member_table.h"
#include "part_list.h"

namespace installer {

namespace {

std::string le16(uint16_t value) {
  uint8_t bytes[2];
  encodeLE16(bytes, value);
  return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}

std::string le32(uint32_t value) {
  uint8_t bytes[4];
  encodeLE32(bytes, value);
  return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}

void addOptionalText(PackageWriter& writer, PartType type, const std::optional<std::string>& text) {
  if (text) writer.addPart(type, *text);
}

void addOptionalList(PackageWriter& writer, PartType type, const std::optional<std::vector<DependencyRef>>& list) {
  if (list) writer.addPart(type, encodeDependencyList(*list));
}

// The parts of a finished file, as the installer's reader meets them.
std::vector<FilePart> partsOf(const std::string& file) {
  std::istringstream in(file);
  return listFileParts(in).parts;
}

void addTrailer(PackageWriter& writer, const FileRecipe& file) {
  if (file.trailingArchitecture) writer.addPart(Architecture, *file.trailingArchitecture);
}

// The relations and the image, in the order the header reader accepts them;
// packages and bundles share it.
template <class Spec>
void addRelationsAndImage(PackageWriter& writer, const Spec& spec) {
  addOptionalList(writer, Dependencies, spec.deps);
  addOptionalList(writer, Provides, spec.provides);
  addOptionalList(writer, Conflicts, spec.conflicts);
  addOptionalText(writer, SquashfsImage, spec.squashfsImage);
}

}  // namespace

PackageWriter::PackageWriter(uint32_t magic) { data = le32(magic) + le32(0); }

void PackageWriter::addPartHeader(uint16_t type, uint32_t lengthField) {
  std::string header = le16(type) + le32(lengthField);
  if (type == DigestSelect) current = &sha256;
  if (type == PackageHeader) {
    uint8_t discarded[32];
    current->finish(discarded);
  }
  current->update(header.data(), header.size());
  written.push_back({type, data.size(), lengthField});
  data += header;
}

void PackageWriter::addPart(uint16_t type, const std::string& payload) {
  addPartWithLength(type, static_cast<uint32_t>(payload.size()), payload);
}

void PackageWriter::addPartWithLength(uint16_t type, uint32_t lengthField, const std::string& payload) {
  addPartHeader(type, lengthField);
  addRaw(payload);
}

void PackageWriter::addRaw(const std::string& bytes) {
  current->update(bytes.data(), bytes.size());
  data += bytes;
}

void PackageWriter::addSignature(const SignatureCallback& sign, uint32_t length) {
  // The digest covers this part's header, length field included, so the
  // length is fixed before the payload is made.
  addPartHeader(Signature, length);
  uint8_t digest[32] = {};
  current->finish(digest);
  digests.emplace_back(reinterpret_cast<char*>(digest), sizeof digest);
  std::string payload = sign ? sign(digest, current == &sha256) : std::string(length, '\0');
  // The signature bytes are not part of any digest.
  data += payload;
}

std::string PackageWriter::bytes() const {
  std::string result = data;
  uint32_t length = lengthOverride ? *lengthOverride : static_cast<uint32_t>(data.size() - FileHeaderSize);
  std::string field = le32(length);
  result.replace(4, 4, field);
  return result;
}

std::string encodeNameField(const std::string& name) {
  std::string field = name.substr(0, NameFieldSize);
  field.resize(NameFieldSize, '\0');
  return field;
}

std::string encodeHeaderRecord(const std::string& name, PackageVersion version, uint32_t buildTime,
                               std::optional<uint32_t> flags) {
  std::string record = encodeNameField(name) + le32(version) + le32(buildTime) + std::string(8, '\0');
  if (flags) record += le32(*flags);
  return record;
}

std::string encodeDependencyList(const std::vector<DependencyRef>& list) {
  std::string bytes = le16(static_cast<uint16_t>(list.size()));
  for (const DependencyRef& ref : list) {
    bytes +=
        encodeNameField(ref.name) + le32(ref.min) + le32(0) + le32(ref.max) + le32(static_cast<uint32_t>(ref.priority));
  }
  return bytes;
}

std::string encodeFileRecord(const FileEntry& entry) {
  std::string header(FileRecordHeaderSize, '\0');
  uint8_t* bytes = reinterpret_cast<uint8_t*>(&header[0]);
  encodeLE16(bytes + FileModeOffset, entry.mode);
  bytes[FileVariantOffset] = entry.variant;
  encodeLE32(bytes + FileDataSizeOffset, static_cast<uint32_t>(entry.data.size()));
  encodeLE16(bytes + FileNameLengthOffset, static_cast<uint16_t>(entry.name.size()));
  return header + entry.name + entry.data;
}

std::string deflateBytes(const std::string& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string out(size, '\0');
  int result = compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
                         static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
  // compressBound guarantees room; anything else is a broken zlib.
  if (result != Z_OK) return std::string();
  out.resize(size);
  return out;
}

std::string encodeFilesPayload(const std::vector<FileEntry>& files) {
  std::string raw;
  for (const FileEntry& entry : files) raw += encodeFileRecord(entry);
  return deflateBytes(raw);
}

void appendPackage(PackageWriter& writer, const PackageRecipe& spec, const SignatureCallback& sign) {
  if (spec.sha256) writer.addPart(DigestSelect, std::string());
  writer.addPart(PackageHeader, encodeHeaderRecord(spec.name, spec.version, spec.buildTime, spec.headerFlags));
  addOptionalText(writer, Text24, spec.text24);
  addOptionalText(writer, Architecture, spec.architecture);
  addOptionalText(writer, Text2, spec.text2);
  addOptionalText(writer, Note, spec.note);
  addRelationsAndImage(writer, spec);
  if (spec.withFiles) writer.addPart(Files, spec.filesPayload ? *spec.filesPayload : encodeFilesPayload(spec.files));
  if (spec.withSignature) writer.addSignature(sign, spec.signatureLength);
}

std::string buildPackage(const PackageRecipe& spec, const SignatureCallback& sign, const FileRecipe& file) {
  PackageWriter writer(file.magic);
  appendPackage(writer, spec, sign);
  addTrailer(writer, file);
  return writer.bytes();
}

size_t addBundleSignaturePlaceholder(PackageWriter& writer) {
  writer.addPart(BundleSignature, std::string(bundleSignatureLength, '\0'));
  return writer.parts().back().headerOffset;
}

void addMemberTablePlaceholder(PackageWriter& writer, size_t rows) {
  writer.addPart(BundleMemberTable, encodeMemberTable(std::vector<MemberRow>(rows)));
}

std::vector<CarriedPackage> carriedPackages(const std::string& file, size_t from) {
  std::vector<CarriedPackage> carried;
  constexpr size_t noPackage = SIZE_MAX;
  size_t begin = noPackage;  // of the current package's part 1
  for (const FilePart& part : partsOf(file)) {
    if (part.offset < from) continue;
    if (part.end() > file.size()) break;
    // Both fit a size_t: the part lies within the file (checked above).
    if (part.type == PackageHeader) begin = static_cast<size_t>(part.offset);
    if (part.type == Signature && begin != noPackage) carried.push_back({begin, static_cast<size_t>(part.end())});
    if (part.type == Signature) begin = noPackage;
  }
  return carried;
}

namespace {

// The rows of the packages that follow offset `from` in `file`.
std::vector<MemberRow> rowsOfPackagesAfter(const std::string& file, size_t from) {
  std::vector<MemberRow> rows;
  for (const CarriedPackage& package : carriedPackages(file, from)) {
    MemberRow row;
    row.length = static_cast<uint32_t>(package.end - package.begin);
    Digest sha256(Digest::Sha256);
    sha256.update(file.data() + package.begin, row.length);
    sha256.finish(row.sha256);
    rows.push_back(row);
  }
  return rows;
}

// Where the payload of the first part of `type` in `file` whose header
// stands before `end` begins, and its length; false when there is none or
// its payload runs past the end of the file.
bool findPart(const std::string& file, uint16_t type, size_t end, size_t& payload, size_t& length) {
  for (const FilePart& part : partsOf(file)) {
    if (part.offset + PartHeaderSize > end) return false;
    if (part.type != type) continue;
    payload = part.offset + PartHeaderSize;
    length = part.length;
    return part.end() <= file.size();
  }
  return false;
}

// Gives the member table part of the head, if it has one, the rows of the
// members after the signature part.
void fillMemberTable(std::string& file, size_t signaturePart) {
  size_t payload = 0, length = 0;
  std::vector<MemberRow> rows;
  if (!findPart(file, BundleMemberTable, signaturePart, payload, length) ||
      !decodeMemberTable(reinterpret_cast<const uint8_t*>(file.data()) + payload, length, rows)) {
    return;
  }
  std::vector<MemberRow> carried = rowsOfPackagesAfter(file, signaturePart + PartHeaderSize + bundleSignatureLength);
  std::copy_n(carried.begin(), std::min(carried.size(), rows.size()), rows.begin());
  file.replace(payload, length, encodeMemberTable(rows));
}

}  // namespace

void fillBundleSignature(std::string& file, size_t partOffset, const HeadSignatureCallback& sign) {
  if (!sign || partOffset + PartHeaderSize + bundleSignatureLength > file.size()) return;
  fillMemberTable(file, partOffset);
  Digest head(Digest::Sha256);
  head.update(file.data(), partOffset);
  uint8_t digest[32];
  head.finish(digest);
  std::string signature = sign(digest);
  signature.resize(bundleSignatureLength, '\0');
  file.replace(partOffset + PartHeaderSize, bundleSignatureLength, signature);
}

std::string buildBundle(const BundleRecipe& spec, const SignatureCallback& sign, const FileRecipe& file,
                        const HeadSignatureCallback& signHead) {
  PackageWriter writer(file.magic);
  writer.addPart(BundleHeader, encodeHeaderRecord(spec.name, spec.version, spec.buildTime, spec.headerFlags));
  addOptionalText(writer, Text24, spec.text24);
  addOptionalText(writer, Architecture, spec.architecture);
  addOptionalText(writer, Note, spec.note);
  addRelationsAndImage(writer, spec);
  addOptionalList(writer, BundleMembers, spec.members);
  if (spec.headSignature && spec.memberTable) addMemberTablePlaceholder(writer, spec.packages.size());
  size_t signatureOffset = 0;
  for (PackageRecipe member : spec.packages) {
    if (spec.headSignature && signatureOffset == 0) {
      // The member's part 25 goes before the signature part, which stands
      // directly before its part 1; the digest switch holds on.
      if (member.sha256) writer.addPart(DigestSelect, std::string());
      member.sha256 = false;
      signatureOffset = addBundleSignaturePlaceholder(writer);
    }
    appendPackage(writer, member, sign);
  }
  addTrailer(writer, file);
  std::string bytes = writer.bytes();
  if (signatureOffset != 0) fillBundleSignature(bytes, signatureOffset, signHead);
  return bytes;
}

}  // namespace installer
