#include "cli/run_setup.h"

#include <cstdio>
#include <cstring>

namespace installer {

bool isEmulatorBoard(Env& env) {
  const char* board = env.variable("board");
  return board != nullptr && std::strcmp(board, "qemu_p9") == 0;
}

bool changeRoot(Env& env, const std::string& root) {
  if (!root.empty() && !env.changeRoot(root)) {
    // Going on in the old root would change the live system instead.
    std::perror("chroot");
    return false;
  }
  if (!env.changeDirectory("/")) std::perror("chdir");
  return true;
}

std::string deviceArchitecture(Env& env) {
  const char* arch = env.variable("arch");
  return arch != nullptr ? arch : "i386";
}

}  // namespace installer
