// The paths a package installed, as its database directory keeps them in
// "files": one path per line below "/flash/", without the leading "/".
//
// Loading the database leaves every list on flash and only marks the record
// (`filesUnread`): most runs remove nothing, and a database of a thousand
// packages holds a hundred thousand paths that a listing never looks at.
// The list is read when something first needs it, a removal; nothing writes
// the database before the run's single commit, so it reads what the load
// would have read.
#pragma once

#include <string>

#include "model/package_info.h"
#include "platform/env.h"

namespace installer {

// Fills `package.files` from packageDir(package) + "files" when the loader
// left it unread; then clears `filesUnread`. Lines the loader would refuse
// (see isAcceptableFileLine) are skipped.
void readInstalledFiles(Env& env, InstalledPackage& package);

// Whether a line of a "files" file names something below "/flash/" that
// the package may own: not empty, not the root itself, no ".." component
// and no control byte.
bool isAcceptableFileLine(const std::string& line);

}  // namespace installer
