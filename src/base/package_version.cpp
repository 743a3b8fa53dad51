#include "base/package_version.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace installer {

std::string formatVersion(PackageVersion version) {
  unsigned major = version >> 24;
  unsigned minor = (version >> 16) & 0xFF;
  unsigned kind = (version >> 8) & 0xFF;
  unsigned build = version & 0xFF;
  const char* word = "";
  if (kind <= 0x60) {
    build = version & 0xFFFF;
    word = "_ab";
  } else if (kind == Alpha) {
    word = "alpha";
  } else if (kind == Beta) {
    word = "beta";
  } else if (kind == ReleaseCandidate) {
    word = "rc";
  } else if (kind == Final) {
    word = ".";
  }
  char text[80];
  bool withBuild = build != 0;
  if (withBuild) {
    std::snprintf(text, sizeof text, "%u.%u%s%u", major, minor, word, build);
  } else {
    // Without a build number only the lettered kinds keep their word.
    bool keepWord = kind == Alpha || kind == Beta || kind == ReleaseCandidate;
    std::snprintf(text, sizeof text, "%u.%u%s", major, minor, keepWord ? word : "");
  }
  return text;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits only (no sign, no blanks), at most `limit`.
bool readNumber(const char*& cursor, unsigned long limit, unsigned long& value) {
  if (!isDigit(*cursor)) return false;
  std::from_chars_result read = std::from_chars(cursor, cursor + std::strlen(cursor), value);
  if (read.ec != std::errc() || value > limit) return false;
  cursor = read.ptr;
  return true;
}

bool startsWith(const char* text, const char* prefix, const char*& rest) {
  size_t n = 0;
  while (prefix[n] != '\0') {
    if (text[n] != prefix[n]) return false;
    ++n;
  }
  rest = text + n;
  return true;
}

struct KindWord {
  const char* text;
  unsigned kind;  // 0: the older numbering
  bool buildOptional;
};

// The older numbering keeps its 16-bit build below 0x6100, where a kind
// letter would start.
constexpr unsigned long oldBuildLimit = 0x60FF;

bool parseTextForm(const char* cursor, PackageVersion& version) {
  unsigned long major = 0, minor = 0, build = 0;
  if (!readNumber(cursor, 255, major) || *cursor++ != '.' || !readNumber(cursor, 255, minor)) return false;
  if (*cursor == '\0') {
    version = makeVersion(major, minor, Final, 0);
    return true;
  }
  static const KindWord words[] = {{"alpha", Alpha, true},
                                   {"beta", Beta, true},
                                   {"rc", ReleaseCandidate, true},
                                   {"_ab", 0, false},
                                   {".", Final, false}};
  for (const KindWord& word : words) {
    const char* rest = nullptr;
    if (!startsWith(cursor, word.text, rest)) continue;
    cursor = rest;
    if (*cursor == '\0') {
      if (!word.buildOptional) return false;  // "7.1." or "7.1_ab"
    } else if (!readNumber(cursor, word.kind == 0 ? oldBuildLimit : 255, build) || *cursor != '\0') {
      return false;
    }
    version = word.kind == 0 ? static_cast<PackageVersion>(major << 24 | minor << 16 | build)
                             : makeVersion(major, minor, word.kind, build);
    return true;
  }
  return false;
}

// "117532163" or "0x07016603": digits only, no sign or blanks.
bool parsePlainNumber(const std::string& text, PackageVersion& version) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = text.c_str() + (hex ? 2 : 0);
  if (!(hex ? std::isxdigit(static_cast<unsigned char>(*digits)) != 0 : isDigit(*digits))) return false;
  // A second "0x" after the first has always been taken as part of the
  // prefix, as strtoull takes it.
  if (hex && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(digits[2])) != 0) {
    digits += 2;
  }
  const char* end = digits + std::strlen(digits);
  unsigned long long value = 0;
  std::from_chars_result read = std::from_chars(digits, end, value, hex ? 16 : 10);
  if (read.ec != std::errc() || read.ptr != end || value > 0xFFFFFFFFull) return false;
  version = static_cast<PackageVersion>(value);
  return true;
}

}  // namespace

bool parseVersion(const std::string& text, PackageVersion& version) {
  if (text.empty()) return false;
  if (text.find('.') == std::string::npos) return parsePlainNumber(text, version);
  return parseTextForm(text.c_str(), version);
}

}  // namespace installer
