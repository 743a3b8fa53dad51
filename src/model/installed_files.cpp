#include "model/installed_files.h"

#include "platform/input_file.h"

namespace installer {

namespace {

// A plain file the installer wrote, with room for some hundred thousand
// paths: a link, a FIFO or a device there is refused.
constexpr ReadLimits installedFiles{false, true, 8 * 1024 * 1024};

}  // namespace

void readInstalledFiles(Env& env, InstalledPackage& package) {
  if (!package.filesUnread) return;
  package.filesUnread = false;
  InputFile in(env, packageDir(package) + "files", installedFiles);
  std::string line;
  while (std::getline(in, line)) {
    if (!isAcceptableFileLine(line)) continue;
    package.files.insert(line[0] == '/' ? line : "/" + line);
  }
}

bool isAcceptableFileLine(const std::string& line) {
  bool hasName = false;
  size_t start = 0;
  while (start <= line.size()) {
    size_t end = line.find('/', start);
    if (end == std::string::npos) end = line.size();
    std::string component = line.substr(start, end - start);
    if (component == "..") return false;
    if (!component.empty()) hasName = true;
    start = end + 1;
  }
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return hasName;
}

}  // namespace installer
