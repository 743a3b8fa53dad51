// The commands of pkgtool, one function each, and the dispatcher that main()
// calls. Every command prints its errors on `err` as "pkgtool: ..." and
// returns the exit status: 0 on success, 1 for a failure of the work
// (unreadable input, a package that does not verify), 2 for bad arguments.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/status.h"
#include "platform/env.h"

namespace installer {

// The usage text printed after a complaint about the arguments.
extern const char pkgtoolUsage[];

int runPkgtool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// Writes the key files through `files`: each is created new (never put over
// an existing file), and the private one with mode 0600 from the start.
int keygenCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                  Env& files = Env::posix());
int buildCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
int bundleCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
int inspectCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// Writes `bytes` to `path` (mode 0644) through a temporary file renamed
// into place, so that a failure never leaves a half-written file under
// that name.
Status writeOutputFile(const std::string& path, const std::string& bytes);

}  // namespace installer
