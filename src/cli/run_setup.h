// What a run learns from its surroundings before it starts: whether the
// board is one where it has nothing to do, the device's architecture, and
// the root it runs in.
#pragma once

#include <string>

#include "base/output.h"
#include "platform/env.h"

namespace installer {

// True when "board" is "qemu_p9": the installer has nothing to do.
bool isEmulatorBoard(Env& env);
// chroot(root) when root is not empty, then chdir("/"). False after a failed
// chroot, which has been reported on standard error as "chroot: REASON".
[[nodiscard]] bool changeRoot(Env& env, Output& output, const std::string& root);
// "i386", or the value of "arch" when set (even empty).
std::string deviceArchitecture(Env& env);

}  // namespace installer
