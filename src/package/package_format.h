// The byte layout of a package file, in one place for its reader and writer.
//
// A package file is an 8-byte file header followed by typed parts:
//
//   file header   u32 magic, u32 length of everything that follows
//   part          u16 type, u32 payload length, payload
//
// Every multi-byte integer is little-endian; the helpers below decode and
// encode them byte by byte, so the host's byte order never matters. Names in
// header and dependency records are 16-byte fields, zero-padded unless the
// name is exactly 16 bytes long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

enum PartType : uint32_t {
  PackageHeader = 1,  // header record; starts a package and a new digest
  Text2 = 2,
  Dependencies = 3,    // dependency list
  Files = 4,           // zlib stream of file records
  Signature = 9,       // signature over the package's digest
  Architecture = 16,   // text
  Conflicts = 17,      // dependency list
  BundleHeader = 18,   // header record of a bundle
  Provides = 19,       // dependency list
  BundleMembers = 20,  // dependency list
  SquashfsImage = 21,  // file-system image, mounted straight from the file
  Note = 23,           // text
  Text24 = 24,         // text
  DigestSelect = 25,   // never delivered; switches the digest to SHA-256
  // Ed25519 signature of a bundle's own bytes (bundle_signature.h). 26 is the
  // first type after every type the format has used, and nothing reacts to
  // it: the reader acts on no part header but those of 1 and 25, and no
  // caller, old or new, lists it among its wanted types, save the install
  // run while it reads a bundle's own parts. Installers that predate it pass
  // it over like any unwanted part.
  BundleSignature = 26,
  // The member table of a bundle (member_table.h): one row per member, which
  // binds each member's bytes to the bundle signature. It stands among the
  // bundle's own parts, before the bundle signature part, so that the
  // signature covers it as it covers the rest of the bundle's head, and
  // installers that check that signature but predate the table verify it
  // as before and pass the table over like any unwanted part.
  BundleMemberTable = 27,
};

constexpr uint32_t PackageMagic = 0xBAD0F11E;
// Installed like any package, but without a database record.
constexpr uint32_t UnrecordedPackageMagic = 0xA1100FFB;
// The magic a stream reports when its file header was short.
constexpr uint32_t MissingMagic = 0xFFFFFFFF;

constexpr size_t FileHeaderSize = 8;
constexpr size_t PartHeaderSize = 6;

// Header record (parts 1 and 18).
constexpr size_t NameFieldSize = 16;
constexpr size_t HeaderRecordSize = 32;           // without flags
constexpr size_t HeaderRecordWithFlagsSize = 36;  // flags at 32
constexpr size_t HeaderVersionOffset = 16;
constexpr size_t HeaderBuildTimeOffset = 20;
constexpr size_t HeaderFlagsOffset = 32;

// Dependency list (parts 3, 17, 19, 20): u16 count, then records.
constexpr size_t DependencyRecordSize = 32;
constexpr size_t DependencyMinOffset = 16;
constexpr size_t DependencyMaxOffset = 24;
constexpr size_t DependencyPriorityOffset = 28;

// File record inside the inflated part 4: header, name, data.
constexpr size_t FileRecordHeaderSize = 30;
constexpr size_t FileModeOffset = 0;
constexpr size_t FileVariantOffset = 23;
constexpr size_t FileDataSizeOffset = 24;
constexpr size_t FileNameLengthOffset = 28;
constexpr uint32_t FileTypeMask = 0xF000;
constexpr uint32_t RegularFileType = 0x8000;

inline uint16_t decodeLE16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

inline uint32_t decodeLE32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void encodeLE16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void encodeLE32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The name in a 16-byte name field: up to the first zero byte, or all 16.
inline std::string decodeNameField(const uint8_t* field) {
  size_t length = 0;
  while (length < NameFieldSize && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace installer
