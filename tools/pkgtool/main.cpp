// pkgtool: the developer's tool for package files: keys, building, bundling
// and inspecting. See pkgtool_commands.h and the README, section "pkgtool".
#include <iostream>
#include <string>
#include <vector>

#include "pkgtool_commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return installer::runPkgtool(arguments, std::cout, std::cerr);
}
