// installerMain: the whole life of one installer process. It reads the
// settings, parses the options, changes the root, takes the run lock and
// hands over to the run mode the options pick (each in its own file).
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "base/exit_status.h"
#include "base/output.h"
#include "platform/env.h"

namespace installer {

// `arguments` are the command line without the program name, `input` is
// standard input. Returns the process's exit status, an ExitStatus.
int installerMain(Env& env, Output& output, const std::vector<std::string>& arguments, std::istream& input);

}  // namespace installer
