// A throw-away device root for a test: a host directory that the test's
// RootedEnv leads the device's paths into, so that the installer's code runs
// on it as a normal user. Removed with everything in it.
#pragma once

#include <string>

#include "support/rooted_env.h"

namespace installer {

class TestRoot {
 public:
  // Lays out "/flash/var/pdb/", "/ram/", "/rw/" and "/tmp/" as on a device.
  TestRoot();
  ~TestRoot();
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  RootedEnv& env() { return rooted; }
  const std::string& path() const { return hostRoot; }
  std::string host(const std::string& devicePath) const { return hostRoot + devicePath; }

  void makeDirs(const std::string& devicePath) const;
  // Writes a file, making its directories, with exactly this mode.
  void write(const std::string& devicePath, const std::string& contents, unsigned mode = 0644) const;
  void symlink(const std::string& devicePath, const std::string& target) const;
  std::string read(const std::string& devicePath) const;
  bool exists(const std::string& devicePath) const;
  // Every entry below `devicePath`, one line each, sorted (see describeTree).
  std::string tree(const std::string& devicePath = "/") const;

 private:
  std::string hostRoot;
  RootedEnv rooted;
};

// One line per entry below `hostDirectory`, sorted by path, the paths shown
// below `shownAs`: a directory "PATH/", a link "PATH -> TARGET", a regular
// file "PATH MODE CONTENTS" (octal mode; the contents quoted with C escapes
// when short, else "<N bytes>"), anything else "PATH special".
std::string describeTree(const std::string& hostDirectory, const std::string& shownAs);

// C-style escapes for bytes outside printable ASCII, quotes and backslashes.
std::string quoted(const std::string& bytes);

std::string readHostFile(const std::string& path);
void writeHostFile(const std::string& path, const std::string& contents);
void removeHostTree(const std::string& path);
std::string makeHostTempDir();

}  // namespace installer
