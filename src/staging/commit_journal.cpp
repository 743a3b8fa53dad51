#include "staging/commit_journal.h"

#include <charconv>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include "base/path_text.h"
#include "model/installer_files.h"
#include "platform/crypto.h"
#include "staging/manifest.h"
#include "staging/temporary_files.h"

namespace installer {

namespace {

constexpr char header[] = "installer-journal 1";
constexpr uint64_t journalLimit = 8 * 1024 * 1024;
constexpr char hexDigits[] = "0123456789abcdef";

std::string field(const std::string& text) { return escapeManifestField(text); }

std::string number(uint64_t value) { return std::to_string(value); }

std::string octal(uint32_t value) {
  std::ostringstream out;
  out << std::oct << value;
  return out.str();
}

std::string stepLine(const CommitStep& step) {
  switch (step.kind) {
    case StepKind::Remove:
      return "remove " + number(step.inode) + " " + field(step.path);
    case StepKind::Link:
      return "link " + field(step.path) + " " + field(step.source);
    case StepKind::Rename:
      return "rename " + (step.inode == 0 ? std::string("-") : number(step.inode)) + " " + field(step.path) + " " +
             field(step.source);
    case StepKind::Copy:
      break;
  }
  return "copy " + number(step.size) + " " + octal(step.mode) + " " + hexDigest(step.digest) + " " +
         (step.package < 0 ? std::string("-") : number(static_cast<uint64_t>(step.package))) + " " +
         number(step.member) + " " + number(step.record) + " " + field(step.path) + " " + field(step.source) + " " +
         field(step.temporary);
}

// Reading: one line's fields, unescaped.
std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  for (;;) {
    size_t end = line.find(' ', at);
    fields.push_back(unescapeManifestField(line.substr(at, end == std::string::npos ? std::string::npos : end - at)));
    if (end == std::string::npos) return fields;
    at = end + 1;
  }
}

bool parseNumber(const std::string& text, uint64_t& value, int base = 10) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > (base == 8 ? '7' : '9')) return false;
  }
  std::from_chars_result read = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return read.ec == std::errc() && read.ptr == text.data() + text.size();
}

bool parseDigest(const std::string& text, Sha256& digest) {
  if (text.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    uint64_t byte = 0;
    std::string pair = text.substr(2 * i, 2);
    if (pair.find_first_not_of(hexDigits) != std::string::npos) return false;
    byte = std::strtoul(pair.c_str(), nullptr, 16);
    digest[i] = static_cast<uint8_t>(byte);
  }
  return true;
}

// Where the commit may change something.
bool isTarget(const std::string& path) { return isCleanPathBelow(path, "/flash/") && !isInstallerOwnPath(path); }

bool isSource(const std::string& path) {
  for (const char* root : {"/flash/", "/rw/", "/ram/", "/tmp/"}) {
    if (isCleanPathBelow(path, root)) return true;
  }
  return false;
}

bool isPackagePath(const std::string& path) {
  return isCleanPathBelow(path, "/flash/") || isCleanPathBelow(path, "/rw/");
}

class Parser {
 public:
  Parser(CommitPlan& out, std::string& why) : plan(out), reason(why) {}

  bool line(const std::string& text) {
    std::vector<std::string> f = fieldsOf(text);
    const std::string& kind = f[0];
    if (kind == "manifest") return manifest(f);
    if (kind == "package") return package(f);
    if (kind == "remove") return remove(f);
    if (kind == "link") return link(f);
    if (kind == "rename") return rename(f);
    if (kind == "copy") return copy(f);
    return refuse("unknown line \"" + kind + "\"");
  }

 private:
  bool refuse(const std::string& what) {
    reason = what;
    return false;
  }
  bool count(const std::vector<std::string>& f, size_t n) {
    return f.size() == n || refuse("a \"" + f[0] + "\" line with " + std::to_string(f.size()) + " fields");
  }
  bool target(const std::string& path) { return isTarget(path) || refuse("a change of " + path); }
  bool source(const std::string& path) { return isSource(path) || refuse("a file taken from " + path); }

  bool manifest(const std::vector<std::string>& f) {
    Sha256 digest{};
    if (!count(f, 2) || !parseDigest(f[1], digest)) return refuse("a bad manifest line");
    plan.manifestDigest = f[1];
    return true;
  }
  bool package(const std::vector<std::string>& f) {
    PackageFileRef ref;
    if (!count(f, 4) || !parseNumber(f[1], ref.length) || !parseDigest(f[2], ref.digest))
      return refuse("a bad package line");
    if (!isPackagePath(f[3])) return refuse("a package file at " + f[3]);
    ref.path = f[3];
    plan.packages.push_back(ref);
    return true;
  }
  bool remove(const std::vector<std::string>& f) {
    CommitStep step;
    step.kind = StepKind::Remove;
    if (!count(f, 3) || !parseNumber(f[1], step.inode)) return refuse("a bad remove line");
    step.path = f[2];
    return target(step.path) && add(step);
  }
  bool link(const std::vector<std::string>& f) {
    CommitStep step;
    step.kind = StepKind::Link;
    if (!count(f, 3) || f[2].empty()) return refuse("a bad link line");
    step.path = f[1];
    step.source = f[2];
    return target(step.path) && add(step);
  }
  bool rename(const std::vector<std::string>& f) {
    CommitStep step;
    step.kind = StepKind::Rename;
    if (!count(f, 4) || (f[1] != "-" && !parseNumber(f[1], step.inode))) return refuse("a bad rename line");
    step.path = f[2];
    step.source = f[3];
    return target(step.path) && source(step.source) && add(step);
  }
  bool copy(const std::vector<std::string>& f) {
    CommitStep step;
    step.kind = StepKind::Copy;
    uint64_t mode = 0, member = 0, record = 0, package = 0;
    if (!count(f, 10) || !parseNumber(f[1], step.size) || !parseNumber(f[2], mode, 8) || mode > 07777 ||
        !parseDigest(f[3], step.digest) || !parseNumber(f[5], member) || !parseNumber(f[6], record) ||
        member > UINT32_MAX || record > UINT32_MAX) {
      return refuse("a bad copy line");
    }
    if (f[4] != "-" && (!parseNumber(f[4], package) || package >= plan.packages.size())) {
      return refuse("a copy from an unknown package file");
    }
    step.mode = static_cast<uint32_t>(mode);
    step.package = f[4] == "-" ? -1 : static_cast<int>(package);
    step.member = static_cast<uint32_t>(member);
    step.record = static_cast<uint32_t>(record);
    step.path = f[7];
    step.source = f[8];
    step.temporary = f[9];
    if (!isTemporaryName(step.temporary) || parentDirectory(step.temporary) != copyDirectory(step.path) ||
        !isTarget(step.temporary)) {
      return refuse("a copy by way of " + step.temporary);
    }
    return target(step.path) && source(step.source) && add(step);
  }
  bool add(const CommitStep& step) {
    plan.steps.push_back(step);
    return true;
  }

  CommitPlan& plan;
  std::string& reason;
};

JournalRead readWhole(Env& env, const std::string& path, std::string& text, Status& failure) {
  FileStatus info;
  failure = env.linkStatus(path, info);
  // Where no directory holds it, there is none either.
  if (failure.is(Status::Kind::NotFound) || failure.is(Status::Kind::NotDirectory)) return JournalRead::Absent;
  if (!failure.isOk()) return JournalRead::Unreadable;
  std::unique_ptr<ReadableFile> file;
  failure = env.openReadable(path, ReadLimits{false, true, journalLimit}, file);
  if (!failure.isOk()) return failure.is(Status::Kind::DiskError) ? JournalRead::Unreadable : JournalRead::Refused;
  char buffer[16384];
  for (;;) {
    size_t n = 0;
    failure = file->read(buffer, sizeof buffer, n);
    if (!failure.isOk()) return JournalRead::Unreadable;
    if (n == 0) return JournalRead::Read;
    text.append(buffer, n);
  }
}

// The text before the "end" line, when that line holds its digest.
bool sealedBody(const std::string& text, std::string& body) {
  if (text.empty() || text.back() != '\n') return false;
  size_t last = text.rfind('\n', text.size() - 2);
  size_t start = last == std::string::npos ? 0 : last + 1;
  body = text.substr(0, start);
  return text.compare(start, std::string::npos, "end " + hexDigest(sha256Of(body)) + "\n") == 0;
}

}  // namespace

std::string hexDigest(const Sha256& digest) {
  std::string text;
  for (uint8_t byte : digest) {
    text += hexDigits[byte >> 4];
    text += hexDigits[byte & 15];
  }
  return text;
}

std::string journalText(const CommitPlan& plan) {
  std::string text = std::string(header) + "\n";
  if (!plan.manifestDigest.empty()) text += "manifest " + plan.manifestDigest + "\n";
  for (const PackageFileRef& package : plan.packages) {
    text += "package " + number(package.length) + " " + hexDigest(package.digest) + " " + field(package.path) + "\n";
  }
  for (const CommitStep& step : plan.steps) text += stepLine(step) + "\n";
  return text + "end " + hexDigest(sha256Of(text)) + "\n";
}

JournalRead readJournal(Env& env, const std::string& path, CommitPlan& plan, std::string& why) {
  plan = CommitPlan();
  std::string text, body;
  Status failure;
  JournalRead read = readWhole(env, path, text, failure);
  if (read == JournalRead::Unreadable) why = failure.reason();
  if (read == JournalRead::Refused) why = "it is no regular file of at most 8 MiB";
  if (read != JournalRead::Read) return read;
  if (!sealedBody(text, body)) {
    why = "it is cut short or damaged";
    return JournalRead::Refused;
  }
  std::istringstream lines(body);
  std::string line;
  if (!std::getline(lines, line) || line != header) {
    why = "it is not in the form this installer writes";
    return JournalRead::Refused;
  }
  Parser parser(plan, why);
  while (std::getline(lines, line)) {
    if (!parser.line(line)) {
      plan = CommitPlan();
      return JournalRead::Refused;
    }
  }
  return JournalRead::Read;
}

}  // namespace installer
