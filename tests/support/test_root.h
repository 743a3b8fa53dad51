// Host files for the tests that need the real system: a throw-away device
// root in a host directory, for the built program run as a process (which
// may chroot into it), and plain host files and directories for the tools
// run in a work directory. Everything else runs on the simulated device
// (support/simulated_device.h).
#pragma once

#include <string>

namespace installer {

class TestRoot {
 public:
  // Lays out "/flash/var/pdb/", "/ram/", "/rw/" and "/tmp/" as on a device.
  TestRoot();
  ~TestRoot();
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  const std::string& path() const { return hostRoot; }
  std::string host(const std::string& devicePath) const { return hostRoot + devicePath; }

  // Writes a file, making its directories, with exactly this mode.
  void write(const std::string& devicePath, const std::string& contents, unsigned mode = 0644) const;
  std::string read(const std::string& devicePath) const;
  // Every entry below `devicePath`, one line each, sorted (see describeTree).
  std::string tree(const std::string& devicePath = "/") const;

 private:
  void makeDirs(const std::string& devicePath) const;

  std::string hostRoot;
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
