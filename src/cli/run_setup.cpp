#include "cli/run_setup.h"

#include <cstring>

namespace installer {

bool isEmulatorBoard(Env& env) {
  const char* board = env.variable("board");
  return board != nullptr && std::strcmp(board, "qemu_p9") == 0;
}

bool changeRoot(Env& env, Output& output, const std::string& root) {
  if (!root.empty()) {
    Status changed = env.changeRoot(root);
    if (!changed.isOk()) {
      // Going on in the old root would change the live system instead.
      output.writeError("chroot: " + changed.reason() + "\n");
      return false;
    }
  }
  Status entered = env.changeDirectory("/");
  if (!entered.isOk()) output.writeError("chdir: " + entered.reason() + "\n");
  return true;
}

std::string deviceArchitecture(Env& env) {
  const char* arch = env.variable("arch");
  return arch != nullptr ? arch : "i386";
}

}  // namespace installer
