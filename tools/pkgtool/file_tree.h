// Files for a package's part 4, taken from the build machine's file system
// (or, for the fuzz targets, from the Env they are given).
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "package_builder.h"
#include "platform/env.h"

namespace installer {

// Every entry below `directory`, in name order, named by its path relative to
// it ("bin/x"): regular files with their contents, directories without data,
// symbolic links with their target as data, each with its st_mode. Other
// kinds of file, unreadable entries and names longer than a record can hold
// are errors, named by the path they were met at.
Status collectFileTree(Env& env, const std::string& directory, std::vector<FileEntry>& entries);

// The whole contents of a file; a file too large for a package is refused.
Status readWholeFile(Env& env, const std::string& path, std::string& data);

}  // namespace installer
