// installer: the package installer of the router.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/installer_main.h"
#include "platform/stdio_output.h"

int main(int argc, char** argv) {
  // A package streams in on standard input: read it in blocks of 64 KiB, not
  // stdio's 4 KiB (a system call per 4 KiB cost a tenth of an install's time).
  static char inputBuffer[65536];
  setvbuf(stdin, inputBuffer, _IOFBF, sizeof inputBuffer);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  installer::StdioOutput output;
  return installer::installerMain(installer::Env::posix(), output, arguments, std::cin);
}
