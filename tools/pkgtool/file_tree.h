// Files for a package's part 4, taken from the build machine's file system
// (or, for the fuzz targets, from the Env they are given).
#pragma once

#include <string>
#include <vector>

#include "package_builder.h"
#include "platform/env.h"

namespace installer {

// Every entry below `directory`, in name order, named by its path relative to
// it ("bin/x"): regular files with their contents, directories without data,
// symbolic links with their target as data, each with its st_mode. Other
// kinds of file, unreadable entries and names longer than a record can hold
// are errors.
[[nodiscard]] bool collectFileTree(Env& env, const std::string& directory, std::vector<FileEntry>& entries,
                                   std::string& error);

// The whole contents of a file.
[[nodiscard]] bool readWholeFile(Env& env, const std::string& path, std::string& data, std::string& error);

}  // namespace installer
