// Host files, for the tests that need the real system: the built program
// run as a process, the tools run in a work directory, the loop driver, the
// running system's own answers. Everything else runs on the simulated
// device (support/simulated_device.h).
#pragma once

#include <string>

namespace installer {

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
