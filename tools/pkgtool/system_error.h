// Status values for what pkgtool's own work meets on the build machine.
//
// The Env reports a failed call through errno (platform/env.h); pkgtool
// makes it a Status right where the call failed, with what it was doing
// ("cannot open"), so the message that prints it needs nothing else and
// errno travels no further. The kind follows the cause, so a caller can
// still tell a missing file from a full disk.
#pragma once

#include <string>

#include "base/status.h"

namespace installer {

// `subject`: "`doing`: <the system's words for errno>", or the words alone
// when `doing` is empty.
Status systemError(const std::string& subject, const std::string& doing);

// `cause` told of a larger subject: the description file and line a
// failure was met at, say. Its kind stays; its whole text becomes the reason.
Status within(const std::string& subject, const Status& cause);

}  // namespace installer
