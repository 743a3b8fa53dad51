// The installer's own files on the flash: the journal of a commit and the
// registry of temporary files. They are dot-files of the database
// directory, named "/flash/var/pdb/.installer" and more, which the database
// loader passes over; no package may put a file there or take such a name,
// so nothing a package brings is ever taken for, or removed as, one of them.
#pragma once

#include <string>

namespace installer {

// Whether `path`, written the way a package or a staged set may write it
// (with "." components or repeated "/"), leads to a file whose name the
// installer keeps for itself.
bool isInstallerOwnPath(const std::string& path);

// Whether a package called `name` would have its database directory at
// such a name.
bool isInstallerOwnPackageName(const std::string& name);

}  // namespace installer
