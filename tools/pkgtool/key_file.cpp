#include "key_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "hex_text.h"
#include "legacy_signer.h"
#include "platform/input_file.h"
#include "signing.h"
#include "tool_errors.h"

namespace installer {

namespace {

bool parseKeyBytes(const std::string& text, uint8_t out[32]) { return parseHexBytes(text, out, 32); }

std::string trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// Everything either kind of file may hold, with what was seen.
struct ParsedKeys {
  SigningKeys keys;
  std::set<std::string> seen;
  bool has(const char* keyword) const { return seen.count(keyword) != 0; }
};

// "KEYWORD needs ...": the line's file and number become its subject.
Status malformedKey(const std::string& keyword, const char* need) { return Status::corrupt("", keyword + " " + need); }

// Applies one "keyword value" line; what is wrong with it has no subject.
Status applySetting(ParsedKeys& parsed, const std::string& keyword, const std::string& value, bool privateAllowed) {
  SigningKeys& keys = parsed.keys;
  const char* keyBytes = "needs 64 hex digits (32 bytes)";
  if (keyword == "ed25519-public-key") {
    return parseKeyBytes(value, keys.trust.ed25519Key) ? Status::ok() : malformedKey(keyword, keyBytes);
  }
  if (keyword == "legacy-public-key") {
    return parseKeyBytes(value, keys.trust.legacyKey) ? Status::ok() : malformedKey(keyword, keyBytes);
  }
  if (keyword == "legacy-hash-iv") {
    return parseHashWords(value, keys.trust.legacyHash.iv, 8) ? Status::ok()
                                                              : malformedKey(keyword, "needs 8 words of 8 hex digits");
  }
  if (keyword == "legacy-hash-k") {
    return parseHashWords(value, keys.trust.legacyHash.k, 64) ? Status::ok()
                                                              : malformedKey(keyword, "needs 64 words of 8 hex digits");
  }
  if (privateAllowed && keyword == "ed25519-private-key") {
    keys.hasEd25519 = true;
    return parseKeyBytes(value, keys.ed25519Seed) ? Status::ok() : malformedKey(keyword, keyBytes);
  }
  if (privateAllowed && keyword == "legacy-private-key") {
    keys.hasLegacy = true;
    return parseKeyBytes(value, keys.legacyScalar) ? Status::ok() : malformedKey(keyword, keyBytes);
  }
  return Status::corrupt("", "unknown setting \"" + keyword + "\"");
}

// One line without its comment; what is wrong with it has no subject.
Status applyLine(ParsedKeys& parsed, const std::string& line, bool privateAllowed) {
  size_t blank = line.find_first_of(" \t");
  std::string keyword = line.substr(0, blank);
  std::string value = blank == std::string::npos ? std::string() : trim(line.substr(blank));
  if (parsed.has(keyword.c_str())) return Status::corrupt("", keyword + " given twice");
  Status applied = applySetting(parsed, keyword, value, privateAllowed);
  if (applied.isOk()) parsed.seen.insert(keyword);
  return applied;
}

Status parseLines(Env& env, const std::string& path, ParsedKeys& parsed, bool privateAllowed) {
  InputFile file(env, path);
  if (!file.is_open()) return systemError(path, "cannot open");
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    std::string where = path + ":" + std::to_string(number);
    // The build's reader (cmake/TrustFile.cmake) cannot see past a zero
    // byte, so both refuse one, even in a comment.
    if (line.find('\0') != std::string::npos) return Status::corrupt(where, "a zero byte");
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    Status applied = applyLine(parsed, line, privateAllowed);
    if (!applied.isOk()) return within(where, applied);
  }
  if (file.bad()) return Status::ioError(path, "read error");
  return Status::ok();
}

// The three legacy trust lines go together.
Status checkLegacyLines(const std::string& path, ParsedKeys& parsed) {
  int count = parsed.has("legacy-public-key") + parsed.has("legacy-hash-iv") + parsed.has("legacy-hash-k");
  if (count != 0 && count != 3) {
    return Status::corrupt(path,
                           "legacy-public-key, legacy-hash-iv and legacy-hash-k go together: give all three or none");
  }
  parsed.keys.trust.hasLegacyKeys = count == 3;
  return Status::ok();
}

std::string wordsText(const uint32_t* words, size_t count) {
  std::string text;
  char word[10];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(word, sizeof word, i == 0 ? "%08x" : " %08x", words[i]);
    text += word;
  }
  return text;
}

Status checkEd25519Pair(const std::string& path, ParsedKeys& parsed) {
  SigningKeys& keys = parsed.keys;
  uint8_t derived[32];
  if (!signing::ed25519PublicKey(keys.ed25519Seed, derived)) {
    return Status::refused(path, "ed25519-private-key is not a usable key");
  }
  if (parsed.has("ed25519-public-key") && std::memcmp(derived, keys.trust.ed25519Key, 32) != 0) {
    return Status::refused(path, "ed25519-public-key does not belong to ed25519-private-key");
  }
  std::memcpy(keys.trust.ed25519Key, derived, 32);
  return Status::ok();
}

Status checkLegacyPair(const std::string& path, ParsedKeys& parsed) {
  SigningKeys& keys = parsed.keys;
  if (!keys.trust.hasLegacyKeys) {
    return Status::refused(path, "legacy-private-key needs legacy-public-key, legacy-hash-iv and legacy-hash-k");
  }
  uint8_t derived[32];
  if (!legacyPublicKey(keys.legacyScalar, derived) || std::memcmp(derived, keys.trust.legacyKey, 32) != 0) {
    return Status::refused(path, "legacy-public-key does not belong to legacy-private-key");
  }
  return Status::ok();
}

// The lines of either kind of file, read and checked for what both need.
Status parseFile(Env& env, const std::string& path, ParsedKeys& parsed, bool privateAllowed) {
  Status status = parseLines(env, path, parsed, privateAllowed);
  return status.isOk() ? checkLegacyLines(path, parsed) : status;
}

}  // namespace

bool parseHashWords(const std::string& text, uint32_t* words, size_t count) {
  // Words are separated by blanks (spaces and tabs) only, as the build's
  // reader of the trust file has them.
  const char* blanks = " \t";
  size_t found = 0;
  for (size_t start = text.find_first_not_of(blanks); start != std::string::npos;
       start = text.find_first_not_of(blanks, start)) {
    size_t end = std::min(text.find_first_of(blanks, start), text.size());
    uint8_t bytes[4];
    if (found == count || !parseHexBytes(text.substr(start, end - start), bytes, sizeof bytes)) return false;
    words[found++] = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                     static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    start = end;
  }
  return found == count;
}

Status readTrustFile(const std::string& path, TrustKeys& keys, Env& env) {
  ParsedKeys parsed;
  Status status = parseFile(env, path, parsed, false);
  if (!status.isOk()) return status;
  if (!parsed.has("ed25519-public-key")) return Status::corrupt(path, "ed25519-public-key is missing");
  keys = parsed.keys.trust;
  return Status::ok();
}

Status readKeyFile(const std::string& path, SigningKeys& keys, Env& env) {
  ParsedKeys parsed;
  Status status = parseFile(env, path, parsed, true);
  if (status.isOk() && !parsed.keys.hasEd25519 && !parsed.keys.hasLegacy) {
    status = Status::corrupt(path, "no private key (ed25519-private-key or legacy-private-key)");
  }
  if (status.isOk() && parsed.keys.hasEd25519) status = checkEd25519Pair(path, parsed);
  if (status.isOk() && parsed.keys.hasLegacy) status = checkLegacyPair(path, parsed);
  if (status.isOk()) keys = parsed.keys;
  return status;
}

std::string formatTrustFile(const TrustKeys& keys) {
  std::string text = "ed25519-public-key " + hexText(keys.ed25519Key, 32) + "\n";
  if (keys.hasLegacyKeys) {
    text += "legacy-public-key " + hexText(keys.legacyKey, 32) + "\n";
    text += "legacy-hash-iv " + wordsText(keys.legacyHash.iv, 8) + "\n";
    text += "legacy-hash-k " + wordsText(keys.legacyHash.k, 64) + "\n";
  }
  return text;
}

std::string formatKeyFile(const SigningKeys& keys) {
  std::string text = "# Private signing keys: keep this file secret.\n";
  if (keys.hasEd25519) text += "ed25519-private-key " + hexText(keys.ed25519Seed, 32) + "\n";
  if (keys.hasLegacy) text += "legacy-private-key " + hexText(keys.legacyScalar, 32) + "\n";
  return text + formatTrustFile(keys.trust);
}

}  // namespace installer
