// A throw-away device root for tests, removed with everything in it.
#pragma once

#include <string>

class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return root; }
  // The host path of a device path: path() + devicePath.
  std::string at(const std::string& devicePath) const { return root + devicePath; }

  void makeDirs(const std::string& devicePath) const;
  // Writes a file (creating its directories) with the given contents and mode.
  void writeFile(const std::string& devicePath, const std::string& contents, unsigned mode = 0644) const;
  std::string readFile(const std::string& devicePath) const;
  bool exists(const std::string& devicePath) const;

 private:
  std::string root;
};

// Every regular file, link and directory under `directory`, as lines of
// "path kind size/target mode" sorted by path: for comparing whole trees.
std::string describeTree(const std::string& directory);
