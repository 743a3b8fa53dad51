#include "staging/manifest.h"

#include <vector>

#include "platform/crypto.h"
#include "platform/input_file.h"
#include "staging/commit_journal.h"
#include "staging/file_replacement.h"

namespace installer {

namespace {

bool needsEscape(unsigned char byte) { return byte < 0x21 || byte == 0x7F || byte == '\\'; }

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The byte of "\ooo" starting at `at`, or -1 when no such escape starts there.
int escapedByteAt(const std::string& field, size_t at) {
  if (at + 3 >= field.size()) return -1;
  if (field[at] != '\\' || !isOctalDigit(field[at + 1]) || !isOctalDigit(field[at + 2]) ||
      !isOctalDigit(field[at + 3])) {
    return -1;
  }
  int value = (field[at + 1] - '0') * 64 + (field[at + 2] - '0') * 8 + (field[at + 3] - '0');
  return value <= 0xFF ? value : -1;
}

const char* lineKind(StagedKind kind) {
  switch (kind) {
    case StagedKind::Delete:
      return "U";
    case StagedKind::Symlink:
      return "L";
    case StagedKind::Move:
    case StagedKind::Write:
      return "M";
    case StagedKind::Copy:
      break;
  }
  return nullptr;
}

// At most three fields, separated by runs of spaces; anything after the
// third is ignored.
std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (fields.size() < 3) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) break;
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    fields.push_back(unescapeManifestField(line.substr(at, end - at)));
    at = end;
  }
  return fields;
}

enum class LineResult { Taken, Malformed };

LineResult takeLine(StagedFiles& staged, const std::string& line) {
  std::vector<std::string> fields = splitFields(line);
  if (fields.size() < 2) return LineResult::Malformed;
  const std::string& kind = fields[0];
  if (kind == "U") {
    stageRecord(staged, fields[1], StagedKind::Delete, std::string());
  } else if (kind == "L" || kind == "M") {
    if (fields.size() < 3) return LineResult::Malformed;
    stageRecord(staged, fields[1], kind == "L" ? StagedKind::Symlink : StagedKind::Move, fields[2]);
  }
  return LineResult::Taken;
}

}  // namespace

std::string manifestDigest(const StagedFiles& staged) { return hexDigest(sha256Of(manifestText(staged.entries))); }

std::string fileDigest(Env& env, const std::string& path) {
  uint64_t length = 0;
  Sha256 digest{};
  FileStatus info;
  if (!env.linkStatus(path, info).isOk() || info.type != FileType::Regular ||
      !measureFile(env, path, length, digest).isOk()) {
    return std::string();
  }
  return hexDigest(digest);
}

std::string escapeManifestField(const std::string& field) {
  static const char digits[] = "01234567";
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (!needsEscape(byte)) {
      out += c;
      continue;
    }
    out += '\\';
    out += digits[(byte >> 6) & 7];
    out += digits[(byte >> 3) & 7];
    out += digits[byte & 7];
  }
  return out;
}

std::string unescapeManifestField(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (size_t at = 0; at < field.size(); ++at) {
    int byte = escapedByteAt(field, at);
    if (byte < 0) {
      out += field[at];
    } else {
      out += static_cast<char>(byte);
      at += 3;
    }
  }
  return out;
}

std::string manifestText(const std::map<std::string, StagedOp>& entries) {
  std::string text;
  for (const auto& entry : entries) {
    const char* kind = lineKind(entry.second.kind);
    if (kind == nullptr) continue;
    text += kind;
    text += ' ';
    text += escapeManifestField(entry.first);
    if (entry.second.kind != StagedKind::Delete) {
      text += ' ';
      text += escapeManifestField(entry.second.target);
    }
    text += '\n';
  }
  return text;
}

Status writeManifest(StagedFiles& staged, const std::string& path) {
  Status written = replaceFile(staged.env(), path, manifestText(staged.entries));
  // The temporary files now belong to the manifest.
  if (written.isOk()) staged.release();
  return written;
}

Status readManifest(StagedFiles& staged, const std::string& path) {
  // Only a regular file is a manifest: a directory reads as if empty, a fifo
  // would keep the run waiting, a device could feed it endless data.
  // 8 MiB: as long as the longest list of installed files it can name.
  InputFile in(staged.env(), path, ReadLimits{false, true, 8 * 1024 * 1024});
  if (!in.is_open()) return in.status();
  std::string line;
  while (!in.fail() && !in.bad()) {
    std::getline(in, line);
    // A read that failed cut the line short; it is no end of the file.
    if (in.readError()) return in.status();
    if (in.bad()) break;
    // The read that meets the end of the file yields an empty line too.
    if (line.empty()) return Status::ok();
    if (takeLine(staged, line) == LineResult::Malformed) return Status::corrupt(path, "a line lacks a field");
  }
  return staged.empty() ? Status::corrupt(path, "it ends without an entry") : Status::ok();
}

}  // namespace installer
