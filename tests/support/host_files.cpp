#include "support/host_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace installer {

namespace {

constexpr size_t shownBytes = 96;

std::string describeEntry(const std::string& host, const std::string& shown, const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return shown + "/";
  if (S_ISLNK(info.st_mode)) {
    char target[4096];
    ssize_t n = readlink(host.c_str(), target, sizeof target);
    return shown + " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
  }
  if (!S_ISREG(info.st_mode)) return shown + " special";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(info.st_mode & 07777));
  std::string contents = readHostFile(host);
  std::string shownContents =
      contents.size() <= shownBytes ? installer::quoted(contents) : "<" + std::to_string(contents.size()) + " bytes>";
  return shown + " " + mode + " " + shownContents;
}

}  // namespace

std::string quoted(const std::string& bytes) {
  std::string text = "\"";
  for (unsigned char c : bytes) {
    if (c == '\n') {
      text += "\\n";
    } else if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text + "\"";
}

std::string describeTree(const std::string& hostDirectory, const std::string& shownAs) {
  std::set<std::string> lines;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(hostDirectory, error), end; it != end; it.increment(error)) {
    std::string host = it->path().string();
    struct stat info;
    if (lstat(host.c_str(), &info) == 0)
      lines.insert(describeEntry(host, (shownAs == "/" ? "" : shownAs) + host.substr(hostDirectory.size()), info));
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string readHostFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void writeHostFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
}

void removeHostTree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
}

std::string makeHostTempDir() {
  char pattern[] = "/tmp/installer-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  return pattern;
}

}  // namespace installer
