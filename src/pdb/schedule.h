// Scheduled actions: requests from other parts of the system to uninstall,
// enable or disable a package, left as a one-word file under "/ram/pdb/".
//
// The installer only reads them, while loading the database; the word
// becomes the package's pending action, carried out by the next resolution.
// It never creates, rewrites or removes a schedule file.
#pragma once

#include <string>

#include "model/package_info.h"
#include "platform/env.h"

namespace installer {

// The package name keeping only ASCII letters, digits and "-": the name of
// the package's directory under "/ram/pdb/".
std::string scheduleName(const std::string& name);

// Reads "/ram/pdb/<scheduleName>/schedule". "uninstall" sets `pending` to
// Uninstall; "enable" and "disable" set `pending` and `byUser`; any other
// word, an empty file or no file change nothing.
void readSchedule(Env& env, InstalledPackage& package);

}  // namespace installer
