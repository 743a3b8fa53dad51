// Path names as text: nothing here looks at the file system.
#pragma once

#include <string>

namespace installer {

// The path without trailing "/", passed through dirname: "/a/b/" -> "/a",
// "name" -> ".", "/" -> ".".
std::string parentDirectory(const std::string& path);

// The same path without repeated "/" and without "." components; a trailing
// "/" stays. ".." is left alone: it cannot be resolved without looking.
// "/flash/./bin//x" -> "/flash/bin/x".
std::string normalizedPath(const std::string& path);

// An absolute path in the form normalizedPath gives, without "..", strictly
// below `root` (which ends in "/"): "/flash/a" is below "/flash/", "/flash/"
// itself and "/flash/../etc" are not.
bool isCleanPathBelow(const std::string& path, const std::string& root);

// The last component of a path: "/a/b" -> "b", "b" -> "b".
std::string baseName(const std::string& path);

}  // namespace installer
