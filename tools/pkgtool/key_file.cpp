#include "key_file.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "hex_text.h"
#include "legacy_signer.h"
#include "platform/input_file.h"
#include "signing.h"

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

// Applies one "keyword value" line; returns an error text or "".
std::string applySetting(ParsedKeys& parsed, const std::string& keyword, const std::string& value,
                         bool privateAllowed) {
  SigningKeys& keys = parsed.keys;
  if (keyword == "ed25519-public-key") {
    return parseKeyBytes(value, keys.trust.ed25519Key) ? "" : keyword + " needs 64 hex digits (32 bytes)";
  }
  if (keyword == "legacy-public-key") {
    return parseKeyBytes(value, keys.trust.legacyKey) ? "" : keyword + " needs 64 hex digits (32 bytes)";
  }
  if (keyword == "legacy-hash-iv") {
    return parseHashWords(value, keys.trust.legacyHash.iv, 8) ? "" : keyword + " needs 8 words of 8 hex digits";
  }
  if (keyword == "legacy-hash-k") {
    return parseHashWords(value, keys.trust.legacyHash.k, 64) ? "" : keyword + " needs 64 words of 8 hex digits";
  }
  if (privateAllowed && keyword == "ed25519-private-key") {
    keys.hasEd25519 = true;
    return parseKeyBytes(value, keys.ed25519Seed) ? "" : keyword + " needs 64 hex digits (32 bytes)";
  }
  if (privateAllowed && keyword == "legacy-private-key") {
    keys.hasLegacy = true;
    return parseKeyBytes(value, keys.legacyScalar) ? "" : keyword + " needs 64 hex digits (32 bytes)";
  }
  return "unknown setting \"" + keyword + "\"";
}

bool parseLines(Env& env, const std::string& path, ParsedKeys& parsed, bool privateAllowed, std::string& error) {
  InputFile file(env, path);
  if (!file.is_open()) {
    error = path + ": cannot open: " + file.status().reason();
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    // The build's reader (cmake/TrustFile.cmake) cannot see past a zero
    // byte, so both refuse one, even in a comment.
    if (line.find('\0') != std::string::npos) {
      error = path + ":" + std::to_string(number) + ": a zero byte";
      return false;
    }
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    size_t blank = line.find_first_of(" \t");
    std::string keyword = line.substr(0, blank);
    std::string value = blank == std::string::npos ? std::string() : trim(line.substr(blank));
    std::string problem =
        parsed.has(keyword.c_str()) ? keyword + " given twice" : applySetting(parsed, keyword, value, privateAllowed);
    if (!problem.empty()) {
      error = path + ":" + std::to_string(number) + ": " + problem;
      return false;
    }
    parsed.seen.insert(keyword);
  }
  if (file.bad()) {
    error = path + ": read error";
    return false;
  }
  return true;
}

// The three legacy trust lines go together.
bool checkLegacyLines(const std::string& path, ParsedKeys& parsed, std::string& error) {
  int count = parsed.has("legacy-public-key") + parsed.has("legacy-hash-iv") + parsed.has("legacy-hash-k");
  if (count != 0 && count != 3) {
    error = path + ": legacy-public-key, legacy-hash-iv and legacy-hash-k go together: give all three or none";
    return false;
  }
  parsed.keys.trust.hasLegacyKeys = count == 3;
  return true;
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

bool checkEd25519Pair(const std::string& path, ParsedKeys& parsed, std::string& error) {
  SigningKeys& keys = parsed.keys;
  uint8_t derived[32];
  if (!signing::ed25519PublicKey(keys.ed25519Seed, derived)) {
    error = path + ": ed25519-private-key is not a usable key";
    return false;
  }
  if (parsed.has("ed25519-public-key") && std::memcmp(derived, keys.trust.ed25519Key, 32) != 0) {
    error = path + ": ed25519-public-key does not belong to ed25519-private-key";
    return false;
  }
  std::memcpy(keys.trust.ed25519Key, derived, 32);
  return true;
}

bool checkLegacyPair(const std::string& path, ParsedKeys& parsed, std::string& error) {
  SigningKeys& keys = parsed.keys;
  if (!keys.trust.hasLegacyKeys) {
    error = path + ": legacy-private-key needs legacy-public-key, legacy-hash-iv and legacy-hash-k";
    return false;
  }
  uint8_t derived[32];
  if (!legacyPublicKey(keys.legacyScalar, derived) || std::memcmp(derived, keys.trust.legacyKey, 32) != 0) {
    error = path + ": legacy-public-key does not belong to legacy-private-key";
    return false;
  }
  return true;
}

}  // namespace

bool parseHashWords(const std::string& text, uint32_t* words, size_t count) {
  std::istringstream in(text);
  std::string word;
  size_t found = 0;
  while (in >> word) {
    uint8_t bytes[4];
    if (found == count || !parseHexBytes(word, bytes, sizeof bytes)) return false;
    words[found++] = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                     static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  }
  return found == count;
}

bool readTrustFile(const std::string& path, TrustKeys& keys, std::string& error, Env& env) {
  ParsedKeys parsed;
  if (!parseLines(env, path, parsed, false, error) || !checkLegacyLines(path, parsed, error)) return false;
  if (!parsed.has("ed25519-public-key")) {
    error = path + ": ed25519-public-key is missing";
    return false;
  }
  keys = parsed.keys.trust;
  return true;
}

bool readKeyFile(const std::string& path, SigningKeys& keys, std::string& error, Env& env) {
  ParsedKeys parsed;
  if (!parseLines(env, path, parsed, true, error) || !checkLegacyLines(path, parsed, error)) return false;
  if (!parsed.keys.hasEd25519 && !parsed.keys.hasLegacy) {
    error = path + ": no private key (ed25519-private-key or legacy-private-key)";
    return false;
  }
  if (parsed.keys.hasEd25519 && !checkEd25519Pair(path, parsed, error)) return false;
  if (parsed.keys.hasLegacy && !checkLegacyPair(path, parsed, error)) return false;
  keys = parsed.keys;
  return true;
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
