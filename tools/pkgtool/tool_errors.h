// Status values for what pkgtool's own work meets on the build machine.
//
// The Env reports a failed call as a Status (platform/env.h); pkgtool adds
// what it was doing ("cannot open"), so the message that prints it needs
// nothing else. The kind follows the cause, so a caller can still tell a
// missing file from a full disk.
#pragma once

#include <string>

#include "base/status.h"

namespace installer {

// The standard library call on `subject` that has just failed (a stream
// that would not open): "`doing`: <the system's words>", or the words alone
// when `doing` is empty.
Status systemError(const std::string& subject, const std::string& doing);

// `cause` (a failed Env call) with what pkgtool was doing put before its
// reason; ok stays ok, and an empty `doing` changes nothing.
Status failedTo(const std::string& doing, const Status& cause);

// `cause` told of a larger subject: the description file and line a
// failure was met at, say. Its kind stays; its whole text becomes the reason.
Status within(const std::string& subject, const Status& cause);

}  // namespace installer
