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

}  // namespace installer
