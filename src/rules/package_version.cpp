#include "rules/package_version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

bool readNumber(const char*& cursor, unsigned long limit, unsigned long& value) {
  if (*cursor < '0' || *cursor > '9') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(cursor, &end, 10);
  if (errno != 0 || value > limit) return false;
  cursor = end;
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

bool parseTextForm(const char* cursor, PackageVersion& version) {
  unsigned long major = 0, minor = 0, build = 0;
  if (!readNumber(cursor, 255, major) || *cursor++ != '.' || !readNumber(cursor, 255, minor)) return false;
  struct Word {
    const char* text;
    unsigned kind;
  };
  static const Word words[] = {{"alpha", Alpha}, {"beta", Beta}, {"rc", ReleaseCandidate}, {"_ab", 0}, {".", Final}};
  unsigned kind = Final;
  const char* rest = cursor;
  for (const Word& word : words) {
    if (startsWith(cursor, word.text, rest)) {
      kind = word.kind;
      cursor = rest;
      break;
    }
  }
  bool needsBuild = cursor != rest || (kind == Final && *cursor != '\0');
  if (*cursor != '\0' && !readNumber(cursor, kind == 0 ? 0xFFFF : 255, build)) return false;
  if (*cursor != '\0' || (needsBuild && kind == Final && build == 0 && cursor == rest)) return false;
  if (kind == 0) {
    version = static_cast<PackageVersion>(major << 24 | minor << 16 | build);
  } else {
    version = makeVersion(major, minor, kind, build);
  }
  return true;
}

}  // namespace

bool parseVersion(const std::string& text, PackageVersion& version) {
  if (text.empty()) return false;
  if (text.find('.') == std::string::npos) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull || text[0] == '-') return false;
    version = static_cast<PackageVersion>(value);
    return true;
  }
  return parseTextForm(text.c_str(), version);
}
