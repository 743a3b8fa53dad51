// Runs the built installer with its root directory changed to a test root,
// for the runs that act on the root they start in (--commit, --cancel),
// which "-r" does not redirect. The child gets a private mount namespace in
// which the host's /usr is bound into the root, so the dynamic loader and
// libraries are found; that binding vanishes with the child, and the mount
// point and library links made for it are removed again afterwards.
#pragma once

#include <string>
#include <vector>

#include "support/process_runner.h"

// Empty when such runs are possible here; otherwise why not, for GTEST_SKIP.
std::string chrootedRunSkipReason();

ProcessResult runInstallerInRoot(const std::string& root, const std::vector<std::string>& arguments);
