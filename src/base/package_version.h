// Package versions: one packed unsigned 32-bit number per package.
//
//   bits 31..24 major, 23..16 minor, 15..8 kind letter, 7..0 build
//
// The kind letters sort 'a' < 'b' < 'c' < 'f', so comparing the packed values as
// plain unsigned integers orders releases correctly. A kind byte of 0x60 or less
// marks the older numbering, where bits 15..0 hold one 16-bit build number.
#pragma once

#include <cstdint>
#include <string>

namespace installer {

using PackageVersion = uint32_t;

enum VersionKind : uint8_t {
  Alpha = 'a',
  Beta = 'b',
  ReleaseCandidate = 'c',
  Final = 'f',
};

constexpr PackageVersion makeVersion(unsigned major, unsigned minor, unsigned kind, unsigned build) {
  return (major & 0xFF) << 24 | (minor & 0xFF) << 16 | (kind & 0xFF) << 8 | (build & 0xFF);
}

// The text form shown to users: 7.1.3, 7.1rc2, 6.40beta, 6.40_ab261, ...
// Each call returns its own string, so two labels never overwrite each other.
std::string formatVersion(PackageVersion version);

// Parses the text form back ("7.1.3", "7.1rc2", "6.40_ab261") or a plain
// number ("0x07016603", "117532163"). Returns false for anything else. Texts
// that more than one version prints as ("7.13", "7.1") read as the final
// release with that minor number.
[[nodiscard]] bool parseVersion(const std::string& text, PackageVersion& version);

}  // namespace installer
