// Reading one package's directory of the database: the meta files that
// restore a record whose image could not be read, the state files that say
// whether it is enabled and who chose that, and its schedule.
//
// Directory layout, all plain text, numbers decimal:
//   version    "version buildTime"
//   deps       one "name min max" per entry
//   provides   one "name min max priority" per entry (priority signed)
//   conflicts  one "name min max" per entry
//   bundle     the name of the bundle the package belongs to
//   files      one installed path per line, below "/flash/"; absent for a bundle;
//              read when first needed (model/installed_files.h)
//   disabled   "user" or "auto"
//   enabled    "user"
// The writer of these files is database_writer.h.
#pragma once

#include <string>
#include <vector>

#include "model/package_info.h"
#include "platform/env.h"

namespace installer {

// Completes `package` from packageDir(package): the meta files when no
// image gave it a version (a missing or malformed one, or a "bundle" file,
// sets `pending` to Uninstall), then `disabled` and `byUser` from the
// state files, then the schedule unless the record is a placeholder.
void readPackageState(Env& env, InstalledPackage& package);

// Appends the entries of a "deps", "provides" (`withPriority`) or
// "conflicts" file. True when the file ended cleanly or is missing; false
// at a malformed entry, keeping the entries before it.
[[nodiscard]] bool readRefList(Env& env, const std::string& path, std::vector<DependencyRef>& list, bool withPriority);

}  // namespace installer
