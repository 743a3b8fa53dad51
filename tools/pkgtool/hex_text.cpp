#include "hex_text.h"

namespace installer {

namespace {

constexpr char digits[] = "0123456789abcdef";

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

unsigned hexValue(char c) {
  if (c <= '9') return static_cast<unsigned>(c - '0');
  return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

}  // namespace

std::string hexText(const uint8_t* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

bool parseHexBytes(const std::string& text, uint8_t* out, size_t length) {
  if (text.size() != 2 * length) return false;
  for (char c : text) {
    if (!isHexDigit(c)) return false;
  }
  for (size_t i = 0; i < length; ++i) {
    out[i] = static_cast<uint8_t>(hexValue(text[2 * i]) << 4 | hexValue(text[2 * i + 1]));
  }
  return true;
}

}  // namespace installer
