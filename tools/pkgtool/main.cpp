// pkgtool: the developer's tool for package files. The commands are added
// one by one; without a known command it prints its usage.
#include <cstdio>

int main() {
  std::fprintf(stderr, "usage: pkgtool <command> [arguments]\n");
  return 2;
}
