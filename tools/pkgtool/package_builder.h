// Writing package files: the other side of PackageStream.
//
// PackageWriter appends a file header and parts to a byte string and runs
// the same digest the reader runs (from each part-1 header through the 6
// header bytes of the package's part 9, SHA-256 from a part 25 on, SHA-1
// before), so that a signature callback can sign exactly what the installer
// will verify. On top of it, buildPackage and buildBundle lay out whole
// package and bundle files from a description.
//
// The writer does what it is told, also when that makes a broken file: raw
// parts with a lying length field, bytes outside any part, a file header
// length that does not match. Tests build their damaged packages with it;
// `pkgtool build` and `pkgtool bundle` build the real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/package_info.h"
#include "package/member_table.h"
#include "package/package_format.h"
#include "platform/crypto.h"

namespace installer {

// Makes the payload of a part 9 from the package's digest: 32 bytes, of
// which a SHA-1 digest fills the first 20 (the rest zero).
using SignatureCallback = std::function<std::string(const uint8_t* digest32, bool sha256)>;
// Makes the payload of a bundle signature part (64 bytes) from the SHA-256
// of the bundle's head.
using HeadSignatureCallback = std::function<std::string(const uint8_t* digest32)>;

// Where a part landed in the written bytes.
struct WrittenPart {
  uint16_t type = 0;
  size_t headerOffset = 0;  // offset of the 6-byte part header
  uint32_t length = 0;      // the length field as written
};

class PackageWriter {
 public:
  // Starts a file with an 8-byte header; the length field is filled in by
  // bytes() unless overridden with setLengthField().
  explicit PackageWriter(uint32_t magic = PackageMagic);
  PackageWriter(const PackageWriter&) = delete;
  PackageWriter& operator=(const PackageWriter&) = delete;

  // Appends a part whose length field matches its payload.
  void addPart(uint16_t type, const std::string& payload);
  // Appends a part header with any length field, followed by `payload`
  // (which need not have that length).
  void addPartWithLength(uint16_t type, uint32_t lengthField, const std::string& payload);
  // Appends bytes outside any part structure; they are digested as payload.
  void addRaw(const std::string& bytes);
  // Appends part 9 with the length field `length`: finishes the running
  // digest (which covers this part's header) and asks `sign` for the
  // payload, written as returned (a callback must return `length` bytes
  // for a well-formed part). An empty callback writes `length` zero bytes,
  // a signature that never verifies.
  void addSignature(const SignatureCallback& sign, uint32_t length = 132);

  void setLengthField(uint32_t length) { lengthOverride = length; }
  // The file so far, with the header's length field set.
  std::string bytes() const;

  const std::vector<WrittenPart>& parts() const { return written; }
  // The digests handed to the signature callbacks, one per part 9.
  const std::vector<std::string>& signedDigests() const { return digests; }

 private:
  void addPartHeader(uint16_t type, uint32_t lengthField);

  std::string data;
  std::optional<uint32_t> lengthOverride;
  std::vector<WrittenPart> written;
  std::vector<std::string> digests;
  Digest sha1{Digest::Sha1};
  Digest sha256{Digest::Sha256};
  Digest* current = &sha1;
};

// One record of the compressed file payload.
struct FileEntry {
  std::string name;         // "bin/x" or "/bin/x"
  uint16_t mode = 0100644;  // st_mode bits; type 0x8000 = regular file
  uint8_t variant = 0;      // 0 = every machine, 1..4 = one processor variant
  std::string data;
};

// Byte encodings of the records.
std::string encodeNameField(const std::string& name);  // 16 bytes; longer names are cut
std::string encodeHeaderRecord(const std::string& name, PackageVersion version, uint32_t buildTime,
                               std::optional<uint32_t> flags);  // 36 bytes with flags, else 32
std::string encodeDependencyList(const std::vector<DependencyRef>& list);
std::string encodeFileRecord(const FileEntry& entry);
// zlib format (header and Adler-32 trailer), as part 4 carries it.
std::string deflateBytes(const std::string& raw);
std::string encodeFilesPayload(const std::vector<FileEntry>& files);

// A package as buildPackage lays it out. Optional parts are written only when
// set; an empty but set list writes a part with a zero count.
struct PackageRecipe {
  std::string name;
  PackageVersion version = 0;
  uint32_t buildTime = 0;
  std::optional<uint32_t> headerFlags;  // absent: a 32-byte header record
  bool sha256 = true;                   // a part 25 before part 1
  std::optional<std::string> text24;
  std::optional<std::string> architecture;
  std::optional<std::string> text2;
  std::optional<std::string> note;
  std::optional<std::vector<DependencyRef>> deps;
  std::optional<std::vector<DependencyRef>> provides;
  std::optional<std::vector<DependencyRef>> conflicts;
  std::optional<std::string> squashfsImage;
  std::vector<FileEntry> files;
  std::optional<std::string> filesPayload;  // replaces the deflated `files` as it is
  bool withFiles = true;                    // write part 4
  bool withSignature = true;                // write part 9
  uint32_t signatureLength = 132;           // 132: legacy + Ed25519, 68: legacy only
};

// Appends one package, from its optional part 25 to its part 9.
void appendPackage(PackageWriter& writer, const PackageRecipe& spec, const SignatureCallback& sign);

struct FileRecipe {
  uint32_t magic = PackageMagic;
  std::optional<std::string> trailingArchitecture;  // a part 16 after everything
};

// A stand-alone package file.
std::string buildPackage(const PackageRecipe& spec, const SignatureCallback& sign = nullptr,
                         const FileRecipe& file = FileRecipe());

struct BundleRecipe {
  std::string name;
  PackageVersion version = 0;
  uint32_t buildTime = 0;
  std::optional<uint32_t> headerFlags;
  std::optional<std::string> text24;
  std::optional<std::string> architecture;
  std::optional<std::string> note;
  // A well-formed bundle has none of these; they exist to build ones that are not.
  std::optional<std::vector<DependencyRef>> deps;
  std::optional<std::vector<DependencyRef>> provides;
  std::optional<std::vector<DependencyRef>> conflicts;
  std::optional<std::string> squashfsImage;
  std::optional<std::vector<DependencyRef>> members;  // part 20
  bool headSignature = false;                         // a bundle signature part before the first member's part 1
  // With the signature, a member table part of a row per member after part
  // 20 (false: a bundle as signed before members were bound).
  bool memberTable = true;
  std::vector<PackageRecipe> packages;  // the members' own bytes
};

// A bundle file: part 18 with its optional parts (24, 16, 23, 3, 19, 17,
// 21), then part 20, the member table part with a bundle signature, and the
// members, the first of them split by the bundle signature part when there
// is one (signed by `signHead`; without it the signature and the rows stay
// zero and never verify).
std::string buildBundle(const BundleRecipe& spec, const SignatureCallback& sign = nullptr,
                        const FileRecipe& file = FileRecipe(), const HeadSignatureCallback& signHead = nullptr);

// Writes the bundle signature part header and its 64 placeholder bytes;
// returns where its header stands.
size_t addBundleSignaturePlaceholder(PackageWriter& writer);
// Writes a member table part of `rows` zero rows, for fillBundleSignature.
void addMemberTablePlaceholder(PackageWriter& writer, size_t rows);
// Where the packages of the finished file `file` after offset `from` stand
// (a bundle's members as carried): each from a part-1 header through the
// end of the first part 9 after it.
struct CarriedPackage {
  size_t begin = 0;
  size_t end = 0;  // one past its last byte
};
std::vector<CarriedPackage> carriedPackages(const std::string& file, size_t from = FileHeaderSize);
// Signs the head of the finished file `file`: a member table part before
// the bundle signature part whose header stands at `partOffset` gets the
// rows of the members that follow the signature part (as many as it has
// room for), then the signature part's payload becomes what `sign` makes
// of the SHA-256 of every byte before that part's header.
void fillBundleSignature(std::string& file, size_t partOffset, const HeadSignatureCallback& sign);

}  // namespace installer
