#include "support/temp_root.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace {

void removeTree(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    if (DIR* dir = opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      closedir(dir);
      for (const std::string& name : names) removeTree(path + "/" + name);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void collectTree(const std::string& base, const std::string& relative, std::set<std::string>& lines) {
  std::string full = base + relative;
  DIR* dir = opendir(full.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    std::string child = relative + "/" + name;
    struct stat info;
    if (lstat((base + child).c_str(), &info) != 0) continue;
    std::ostringstream line;
    line << child << " ";
    if (S_ISDIR(info.st_mode)) {
      line << "dir";
    } else if (S_ISLNK(info.st_mode)) {
      char target[4096];
      ssize_t n = readlink((base + child).c_str(), target, sizeof target - 1);
      line << "link " << std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (!S_ISREG(info.st_mode)) {
      // Device nodes and pipes are not read: /dev/full never ends.
      line << "special " << major(info.st_rdev) << "," << minor(info.st_rdev);
    } else {
      std::ifstream file(base + child, std::ios::binary);
      std::ostringstream contents;
      contents << file.rdbuf();
      line << "file " << info.st_size << " " << std::hash<std::string>()(contents.str());
    }
    line << " " << std::oct << (info.st_mode & 07777);
    lines.insert(line.str());
    if (S_ISDIR(info.st_mode)) collectTree(base, child, lines);
  }
}

}  // namespace

TempRoot::TempRoot() {
  char pattern[] = "/tmp/installer-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) std::abort();
  root = made;
  makeDirs("/tmp");
}

TempRoot::~TempRoot() { removeTree(root); }

void TempRoot::makeDirs(const std::string& devicePath) const {
  std::string path = root;
  std::stringstream parts(devicePath);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    path += "/" + part;
    mkdir(path.c_str(), 0755);
  }
}

void TempRoot::writeFile(const std::string& devicePath, const std::string& contents, unsigned mode) const {
  size_t slash = devicePath.rfind('/');
  if (slash != std::string::npos && slash > 0) makeDirs(devicePath.substr(0, slash));
  std::string path = at(devicePath);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
  file.close();
  chmod(path.c_str(), mode);
}

std::string TempRoot::readFile(const std::string& devicePath) const {
  std::ifstream file(at(devicePath), std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

bool TempRoot::exists(const std::string& devicePath) const {
  struct stat info;
  return lstat(at(devicePath).c_str(), &info) == 0;
}

std::string describeTree(const std::string& directory) {
  std::set<std::string> lines;
  collectTree(directory, "", lines);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}
