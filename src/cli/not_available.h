// For run modes that this build cannot carry out: they refuse loudly rather
// than pretend to succeed.
#pragma once

#include <cstdio>

inline int notAvailable(const char* mode) {
  std::fprintf(stderr, "installer: %s is not available in this build\n", mode);
  return 1;
}
