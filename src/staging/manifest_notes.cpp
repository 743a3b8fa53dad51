#include "staging/manifest_notes.h"

#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/crypto.h"
#include "platform/device_paths.h"
#include "platform/input_file.h"
#include "staging/commit_journal.h"
#include "staging/file_replacement.h"
#include "staging/manifest.h"

namespace installer {

namespace {

constexpr char header[] = "installer-manifest 1";
constexpr uint64_t notesLimit = 8 * 1024 * 1024;

std::string field(const std::string& text) { return escapeManifestField(text); }

std::string sealed(const std::string& body) {
  Digest digest(Digest::Sha256);
  digest.update(body.data(), body.size());
  Sha256 result{};
  digest.finish(result.data());
  return body + "end " + hexDigest(result) + "\n";
}

std::string notesText(const ManifestNotes& notes) {
  std::string text = std::string(header) + "\n";
  text += "digest " + notes.digest + "\n";
  text += std::string("state ") + (notes.committed ? "committed" : "pending") + "\n";
  for (const std::string& package : notes.packageFiles) text += "package " + field(package) + "\n";
  for (const auto& origin : notes.origins) {
    text += "origin " + std::to_string(origin.second.file) + " " + std::to_string(origin.second.member) + " " +
            std::to_string(origin.second.record) + " " + field(origin.first) + "\n";
  }
  for (const auto& path : notes.before) text += "before " + field(path.first) + " " + path.second + "\n";
  return sealed(text);
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string word; in >> word;) fields.push_back(unescapeManifestField(word));
  return fields;
}

bool readNumber(const std::string& text, uint32_t& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

bool takeLine(const std::vector<std::string>& f, ManifestNotes& notes) {
  if (f.empty()) return false;
  if (f[0] == "digest" && f.size() == 2) return notes.digest = f[1], true;
  if (f[0] == "state" && f.size() == 2) return notes.committed = f[1] == "committed", true;
  if (f[0] == "package" && f.size() == 2) return notes.packageFiles.push_back(f[1]), true;
  if (f[0] == "before" && f.size() >= 3) {
    notes.before[f[1]] = f.size() == 4 ? f[2] + " " + f[3] : f[2];
    return true;
  }
  FileOrigin origin;
  uint32_t file = 0;
  if (f[0] != "origin" || f.size() != 5 || !readNumber(f[1], file) || !readNumber(f[2], origin.member) ||
      !readNumber(f[3], origin.record) || file >= notes.packageFiles.size()) {
    return false;
  }
  origin.file = static_cast<int>(file);
  notes.origins[f[4]] = origin;
  return true;
}

bool readText(Env& env, std::string& text) {
  InputFile in(env, paths::manifestNotes, ReadLimits{false, true, notesLimit});
  if (!in.is_open()) return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return !in.readError();
}

// The markers tell the boot scripts what happened, which may take them
// away: they are no installed state that other work could have changed.
bool isMarker(const std::string& path) {
  for (const char* marker : {paths::packagesChangedMarker, paths::upgradedMarker, paths::brandingInstalledMarker}) {
    if (path == marker) return true;
  }
  return false;
}

}  // namespace

std::string identityOf(Env& env, const std::string& path) {
  FileStatus info;
  if (!env.linkStatus(path, info).isOk()) return "-";
  return std::to_string(info.inode) + " " + std::to_string(info.size);
}

ManifestNotes notesFor(const StagedFiles& staged, const std::string& digest) {
  ManifestNotes notes;
  notes.digest = digest;
  notes.packageFiles = staged.packageFiles;
  for (const auto& entry : staged.entries) {
    if (!isMarker(entry.first)) notes.before[entry.first] = identityOf(staged.env(), entry.first);
    const StagedOp& op = entry.second;
    if (op.kind == StagedKind::Write && op.origin.file >= 0) notes.origins[op.target] = op.origin;
  }
  return notes;
}

Status writeManifestNotes(Env& env, const ManifestNotes& notes) {
  return replaceFile(env, paths::manifestNotes, notesText(notes));
}

bool readManifestNotes(Env& env, const std::string& digest, ManifestNotes& notes) {
  std::string text;
  if (digest.empty() || !readText(env, text)) return false;
  size_t end = text.rfind("end ");
  if (end == std::string::npos || sealed(text.substr(0, end)) != text) return false;
  std::istringstream lines(text.substr(0, end));
  std::string line;
  if (!std::getline(lines, line) || line != header) return false;
  notes = ManifestNotes();
  while (std::getline(lines, line)) {
    if (!takeLine(fieldsOf(line), notes)) return false;
  }
  return notes.digest == digest;
}

void applyOrigins(const ManifestNotes& notes, StagedFiles& staged) {
  staged.packageFiles = notes.packageFiles;
  for (auto& entry : staged.entries) {
    auto found = notes.origins.find(entry.second.target);
    if (entry.second.kind == StagedKind::Move && found != notes.origins.end()) entry.second.origin = found->second;
  }
}

std::string changedSince(Env& env, const ManifestNotes& notes) {
  for (const auto& path : notes.before) {
    if (identityOf(env, path.first) != path.second) return path.first;
  }
  return std::string();
}

}  // namespace installer
