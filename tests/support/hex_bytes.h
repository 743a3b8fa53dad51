// Hex text <-> bytes, for tests that compare against published test vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> fromHex(const std::string& hex);
std::string toHex(const uint8_t* bytes, size_t length);
inline std::string toHex(const std::vector<uint8_t>& bytes) { return toHex(bytes.data(), bytes.size()); }
