#include "base/path_text.h"

#include <libgen.h>

#include <vector>

namespace installer {

std::string parentDirectory(const std::string& path) {
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  std::vector<char> buffer(trimmed.begin(), trimmed.end());
  buffer.push_back('\0');
  return dirname(buffer.data());
}

std::string normalizedPath(const std::string& path) {
  std::string out;
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    std::string component = path.substr(at, end - at);
    if (!component.empty() && component != ".") {
      if (!out.empty() || path[0] == '/') out += '/';
      out += component;
    }
    at = end + 1;
  }
  if (out.empty()) return path.empty() ? path : path[0] == '/' ? "/" : ".";
  if (path.back() == '/') out += '/';
  return out;
}

bool isCleanPathBelow(const std::string& path, const std::string& root) {
  if (path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  if (normalizedPath(path) != path) return false;
  return path.find("/../") == std::string::npos && path.compare(path.size() - 3, 3, "/..") != 0;
}

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace installer
