// Path names as text: nothing here looks at the file system.
#pragma once

#include <string>

namespace installer {

// The path without trailing "/", passed through dirname: "/a/b/" -> "/a",
// "name" -> ".", "/" -> ".".
std::string parentDirectory(const std::string& path);

}  // namespace installer
