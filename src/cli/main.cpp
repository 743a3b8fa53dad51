// installer: the package installer of the router.
#include <iostream>
#include <string>
#include <vector>

#include "cli/run_modes.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return installer::installerMain(installer::Env::posix(), arguments, std::cin);
}
