// Turning a failed system call into a Status, right where it failed.
//
// Every Env reports its failures through this one table, so that all of
// them agree on what a cause means: the kind is what the callers decide on,
// the reason the system's own words for the cause (strerror), which the
// messages print unchanged.
#pragma once

#include <string>

#include "base/status.h"

namespace installer {

// The Status of a call on `subject` that failed with the errno value `code`.
// REQUIRES: code != 0.
Status systemError(const std::string& subject, int code);

// The same for the call that has just failed: errno is read now.
Status systemError(const std::string& subject);

// The Status a system call would give for a failure of `kind` on `subject`,
// in the system's own words, for code that refuses what the system would
// refuse (a file to be made below a file). Kinds without an error of their
// own (IoError, Corrupt, Refused) give the words of an I/O error.
Status systemError(const std::string& subject, Status::Kind kind);

}  // namespace installer
