// Bytes as lower-case hex text, and back: keys in key and trust files,
// digests in pkgtool's reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

std::string hexText(const uint8_t* bytes, size_t length);

// Exactly 2 * `length` hex digits (either case) into `out`; false for
// anything else, `out` then unspecified.
[[nodiscard]] bool parseHexBytes(const std::string& text, uint8_t* out, size_t length);

}  // namespace installer
