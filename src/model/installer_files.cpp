#include "model/installer_files.h"

#include "base/path_text.h"
#include "platform/device_paths.h"

namespace installer {

bool isInstallerOwnPath(const std::string& path) {
  std::string clean = normalizedPath(path);
  std::string prefix = paths::installerOwnPrefix;
  return clean.compare(0, prefix.size(), prefix) == 0;
}

bool isInstallerOwnPackageName(const std::string& name) {
  return isInstallerOwnPath(std::string(paths::databaseDir) + name);
}

}  // namespace installer
