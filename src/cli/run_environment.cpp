#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/run_modes.h"

bool isEmulatorBoard() {
  const char* board = std::getenv("board");
  return board != nullptr && std::strcmp(board, "qemu_p9") == 0;
}

bool changeRoot(const std::string& root) {
  if (!root.empty() && chroot(root.c_str()) != 0) {
    // Going on in the old root would change the live system instead.
    std::perror("chroot");
    return false;
  }
  if (chdir("/") != 0) std::perror("chdir");
  return true;
}

std::string deviceArchitecture() {
  const char* arch = std::getenv("arch");
  return arch != nullptr ? arch : "i386";
}
